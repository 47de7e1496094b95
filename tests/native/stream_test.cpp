// Byte streams: what the passes and the run driver rely on, for each
// backend that can be written and read back (a temporary file, a memory
// buffer), and the read-only, sink and reader backends.
#include <gtest/gtest.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <string>
#include "platform/file.h"
#include "clean/stream.h"
#include "tests/native/support.h"

static std::string Pattern(size_t n)
{
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++)
        s[i] = (char)(i * 7 + i / 251);
    return s;
}

// A writable stream of either backend holding `content`, at its start.
static ByteStream *Make(bool inMemory, const std::string &content)
{
    if (!inMemory)
        return MakeTempFile(content);
    ByteStream *s = new ByteStream;
    StreamOpenBuffer(s);
    StreamWrite(s, content.data(), content.size());
    StreamRewind(s);
    return s;
}

struct Stream : ::testing::TestWithParam<bool> {};

TEST_P(Stream, WriteRewindReadAcrossBufferBoundaries)
{
    std::string data = Pattern(3 * kStreamBufferSize + 123);
    ByteStream *s = Make(GetParam(), "");
    // Byte by byte, then in a block that crosses the buffer's end.
    for (size_t i = 0; i < 1000; i++)
        StreamPut(s, (unsigned char)data[i]);
    StreamWrite(s, data.data() + 1000, data.size() - 1000);
    EXPECT_EQ(ReadBack(s), data);
    EXPECT_EQ(StreamGet(s), -1);
    EXPECT_FALSE(StreamReadFailed(s));
    CloseStream(s);
}

TEST_P(Stream, SeekBackToASavedPositionNearAndFar)
{
    std::string data = Pattern(2 * kStreamBufferSize + 10);
    ByteStream *s = Make(GetParam(), data);
    for (int i = 0; i < 100; i++)
        StreamGet(s);
    int64_t near = StreamTell(s);
    EXPECT_EQ(near, 100);
    for (int i = 0; i < 50; i++)
        StreamGet(s);
    ASSERT_TRUE(StreamSeek(s, near));
    EXPECT_EQ(StreamGet(s), (unsigned char)data[100]);
    // Past the end: the end state clears when the reader returns.
    while (StreamGet(s) >= 0) {
    }
    ASSERT_TRUE(StreamSeek(s, 5));
    EXPECT_EQ(StreamGet(s), (unsigned char)data[5]);
    ASSERT_TRUE(StreamSeek(s, (int64_t)data.size() - 1));
    EXPECT_EQ(StreamGet(s), (unsigned char)data.back());
    EXPECT_EQ(StreamGet(s), -1);
    // Overwriting in the middle, and a write past the end leaves zeros.
    ASSERT_TRUE(StreamSeek(s, 3));
    StreamWriteText(s, "xy");
    ASSERT_TRUE(StreamSeek(s, (int64_t)data.size() + 2));
    StreamPut(s, 'z');
    std::string expected = data.substr(0, 3) + "xy" + data.substr(5) + std::string(2, '\0') + "z";
    EXPECT_EQ(ReadBack(s), expected);
    CloseStream(s);
}

TEST_P(Stream, RunCopiesAcrossBuffers)
{
    size_t lt = kStreamBufferSize + 10, next = 2 * kStreamBufferSize + 20;
    std::string data = std::string(lt, 'a') + "<" + std::string(next - lt - 1, 'b') + "<" +
                       std::string(300, 'c');
    ByteStream *in = Make(GetParam(), data), *out = Make(GetParam(), "");
    StreamCopyUntil(in, out, '<');
    EXPECT_EQ(StreamTell(in), (int64_t)lt);
    EXPECT_EQ(StreamGet(in), '<');
    EXPECT_TRUE(StreamSkipUntil(in, '<'));
    EXPECT_EQ(StreamTell(in), (int64_t)next);
    EXPECT_EQ(StreamCopyBytes(in, out, 101), 101);
    EXPECT_EQ(StreamCopyBytes(in, out, 1 << 30), 200);
    EXPECT_FALSE(StreamSkipUntil(in, '<'));
    EXPECT_EQ(ReadBack(out), data.substr(0, lt) + data.substr(next, 301));
    CloseStream(in);
    CloseStream(out);
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, Stream, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &p) {
                             return std::string(p.param ? "Memory" : "File");
                         });

TEST(StreamMemory, CallersBytesAreReadNeverWritten)
{
    const char text[] = "<p>abc</p>";
    ByteStream s;
    StreamOpenMemory(&s, text, 10);
    EXPECT_EQ(ReadBack(&s), "<p>abc</p>");
    StreamPut(&s, 'x');
    EXPECT_TRUE(StreamWriteFailed(&s));
    EXPECT_STREQ(text, "<p>abc</p>");
    EXPECT_FALSE(StreamClose(&s));
}

static void Collect(void *context, const unsigned char *data, size_t n)
{
    ((std::string *)context)->append((const char *)data, n);
}

TEST(StreamSink, GetsEveryByteInOrderAtFullBuffersAndFlushes)
{
    std::string got, data = Pattern(kStreamBufferSize + 3);
    ByteStream s;
    StreamOpenSink(&s, Collect, &got);
    StreamWrite(&s, data.data(), data.size());
    EXPECT_EQ(got.size(), (size_t)kStreamBufferSize);
    EXPECT_EQ(StreamTell(&s), (int64_t)data.size());
    EXPECT_FALSE(StreamSeek(&s, 0));
    EXPECT_EQ(StreamGet(&s), -1);
    EXPECT_TRUE(StreamReadFailed(&s));
    EXPECT_TRUE(StreamClose(&s));
    EXPECT_EQ(got, data);
}

static long ReadPattern(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    const std::string *data = (const std::string *)context;
    if (offset == 7777)
        return -1;
    size_t k = offset < (int64_t)data->size() ? std::min(n, data->size() - (size_t)offset) : 0;
    memcpy(buf, data->data() + offset, k);
    return (long)k;
}

TEST(StreamReader, ReadsAndSeeksThroughItsProcedure)
{
    std::string data = Pattern(2 * kStreamBufferSize + 9);
    ByteStream s;
    StreamOpenReader(&s, ReadPattern, &data);
    EXPECT_EQ(ReadBack(&s), data);
    ASSERT_TRUE(StreamSeek(&s, kStreamBufferSize + 1));
    EXPECT_EQ(StreamGet(&s), (unsigned char)data[kStreamBufferSize + 1]);
    ASSERT_TRUE(StreamSeek(&s, 7777));
    EXPECT_EQ(StreamGet(&s), -1);
    EXPECT_TRUE(StreamReadFailed(&s));
    StreamPut(&s, 'x');
    EXPECT_TRUE(StreamWriteFailed(&s));
}

// Between two files the copy calls move whole stretches inside the system;
// with a fault hook set the system declines and every byte goes through
// the buffers. Both leave the same bytes and the same positions.
TEST(StreamFile, CopiesBetweenFilesInTheSystemAsThroughTheBuffers)
{
    const size_t b = kStreamBufferSize;
    std::string data = Pattern(5 * b + 77);
    for (bool hooked : {false, true}) {
        if (hooked)
            FileFaultHook = [](FileHandle, bool, int64_t) { return true; };
        ByteStream *in = MakeTempFile(data), *out = MakeTempFile();
        for (int i = 0; i < 10; i++)
            StreamGet(in);
        StreamWriteText(out, "xyz");
        EXPECT_EQ(StreamCopyBytes(in, out, (int64_t)(3 * b)), (int64_t)(3 * b));
        EXPECT_EQ(StreamTell(in), (int64_t)(3 * b + 10));
        EXPECT_EQ(StreamGet(in), (unsigned char)data[3 * b + 10]);
        StreamPut(out, '|');
        CopyStream(in, out);
        EXPECT_EQ(StreamGet(in), -1);
        EXPECT_FALSE(StreamReadFailed(in));
        EXPECT_EQ(StreamTell(out), (int64_t)data.size() - 10 + 3);
        EXPECT_EQ(ReadBack(out), "xyz" + data.substr(10, 3 * b) + "|" + data.substr(3 * b + 11))
            << (hooked ? "through the buffers" : "in the system");
        FileFaultHook = nullptr;
        CloseStream(in);
        CloseStream(out);
    }
}

TEST(StreamFile, ErrorsAreRemembered)
{
    ByteStream *s = MakeTempFile("abc");
    FileFaultHook = [](FileHandle, bool, int64_t) { return false; };
    EXPECT_EQ(StreamGet(s), -1);
    EXPECT_TRUE(StreamReadFailed(s));
    StreamRewind(s);
    EXPECT_EQ(StreamGet(s), -1) << "a failed stream stays failed";
    FileFaultHook = nullptr;
    CloseStream(s);

    ByteStream *out = MakeTempFile();
    StreamWrite(out, "x", 1);
    FileFaultHook = [](FileHandle, bool writing, int64_t) { return !writing; };
    EXPECT_FALSE(StreamFlush(out));
    FileFaultHook = nullptr;
    EXPECT_TRUE(StreamWriteFailed(out));
    EXPECT_FALSE(StreamClose(out));
    delete out;
}

// The whole-write and the whole-file copy that the command line and the
// settings store use: everything arrives, or false with the system's reason.
TEST(PlatformWriteAll, EverythingArrivesOrTheReasonIsKept)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const std::string text(3000, 'x');
    EXPECT_TRUE(PlatformWriteAll(fds[1], text.data(), text.size()));
    close(fds[1]);
    std::string got;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        got.append(buf, (size_t)n);
    close(fds[0]);
    EXPECT_EQ(text, got);

    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    errno = 0;
    EXPECT_FALSE(PlatformWriteAll(full, text.data(), text.size()));
    EXPECT_EQ(ENOSPC, errno);
    ByteStream *page = MakeTempFile(text + "y");
    errno = 0;
    EXPECT_FALSE(PlatformCopyFile(page->file, full));
    EXPECT_EQ(ENOSPC, errno);
    close(full);
    CloseStream(page);
}
