// Byte streams: what the passes and the run driver rely on.
#include <gtest/gtest.h>
#include <string>
#include "clean/fs.h"
#include "clean/stream.h"
#include "tests/native/support.h"

static std::string Pattern(size_t n)
{
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++)
        s[i] = (char)(i * 7 + i / 251);
    return s;
}

TEST(Stream, WriteRewindReadAcrossBufferBoundaries)
{
    std::string data = Pattern(3 * kStreamBufferSize + 123);
    ByteStream *s = MakeInput(data);
    EXPECT_EQ(ReadBack(s), data);
    EXPECT_EQ(StreamGet(s), -1);
    EXPECT_FALSE(StreamReadFailed(s));
    CloseStream(s);
}

TEST(Stream, SeekBackToASavedPositionNearAndFar)
{
    std::string data = Pattern(2 * kStreamBufferSize + 10);
    ByteStream *s = MakeInput(data);
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
    CloseStream(s);
}

TEST(Stream, ErrorsAreRemembered)
{
    ByteStream *s = MakeInput("abc");
    FileFaultHook = [](FileHandle, bool, int64_t) { return false; };
    EXPECT_EQ(StreamGet(s), -1);
    EXPECT_TRUE(StreamReadFailed(s));
    StreamRewind(s);
    EXPECT_EQ(StreamGet(s), -1) << "a failed stream stays failed";
    FileFaultHook = nullptr;
    CloseStream(s);

    ByteStream *out = MakeOutput();
    StreamWrite(out, "x", 1);
    FileFaultHook = [](FileHandle, bool writing, int64_t) { return !writing; };
    EXPECT_FALSE(StreamFlush(out));
    FileFaultHook = nullptr;
    EXPECT_TRUE(StreamWriteFailed(out));
    EXPECT_FALSE(StreamClose(out));
    delete out;
}
