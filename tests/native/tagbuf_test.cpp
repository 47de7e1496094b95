// The tag buffer and the two searches over tag text.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "clean/tagbuf.h"
#include "tests/native/support.h"

static TagBuffer Tag;

static const TagBuffer *Load(const char *tag)
{
    size_t n = strlen(tag);
    memcpy(Tag.bytes, tag, n);
    Tag.length = (int32_t)n;
    return &Tag;
}

static int32_t Find(const char *text, const char *token)
{
    return FindToken((const unsigned char *)text, (int32_t)strlen(text), token);
}

TEST(FindToken, LengthRuleCaseAndFirstMatch)
{
    EXPECT_EQ(Find("<IMG", "SRC"), -1);            // 4 bytes: shorter than token + 3
    EXPECT_EQ(Find("xSRCx", "SRC"), -1);
    EXPECT_EQ(Find("xxSRC", "SRC"), -1);           // 5 < 6, although it contains it
    EXPECT_EQ(Find("xxxSRC", "SRC"), 6);           // the match may end the text
    EXPECT_EQ(Find("<IMG SRC=a>", "SRC"), 8);
    EXPECT_EQ(Find("<img src=a>", "SRC"), 8);
    EXPECT_EQ(Find("<img SrC=a>", "src"), 8);
    EXPECT_EQ(Find("<a src=1 src=2>", "SRC"), 6);
    EXPECT_EQ(Find("<img lowsrc=a>", "SRC"), 11);  // inside a longer name counts
    EXPECT_EQ(Find("<img href=a>", "SRC"), -1);
}

TEST(IsRemoteLink, AcceptedForms)
{
    for (const char *tag : {"<img src=\"http:a\">", "<IMG SRC = 'HTTP:A'>", "<img src=   http:a>",
                            "<img src=  \" http:a\">", "<img SRC=hTtP:x>",
                            // Any network address, read as a browser reads it.
                            "<img src=\"https:a\">", "<img src\n=http:a>", "<img src=\thttp:a>"}) {
        EXPECT_TRUE(IsRemoteLink(Load(tag), true)) << tag;
    }
    EXPECT_TRUE(IsRemoteLink(Load("<base href=\"http://x/\">"), false));
}

TEST(IsRemoteLink, RefusedForms)
{
    for (const char *tag : {"<img src=\"./http:a\">", "<img src=\"\" \"http:a\">",
                            "<img lowsrc=a.gif src=http:b>",
                            "<img src=h>", "<img src=>", "<img src", "<img alt=x>"}) {
        EXPECT_FALSE(IsRemoteLink(Load(tag), true)) << tag;
    }
    EXPECT_FALSE(IsRemoteLink(Load("<base target=x>"), false));
    EXPECT_FALSE(IsRemoteLink(Load("<A HREF=H>"), false));
}

// CollectTag takes runs but must end where AppendTagByte, byte by byte,
// would: at the '>', or at the 4096th byte even when that is the '>'.
TEST(TagBuffer, CollectTagEndsWhereByteByByteAppendsWould)
{
    const std::vector<std::string> tails = {
        "a b>rest", std::string(4093, 'a') + ">x", std::string(4094, 'a') + ">x", std::string(4095, 'a') + ">x",
        std::string(5000, 'a') + ">x", std::string(kStreamBufferSize + 3, 'b'), "no end"};
    for (const std::string &tail : tails) {
        std::string page = "<" + tail;
        TagBuffer byByte, byRun;
        ByteStream in, outByte, outRun;
        StreamOpenBuffer(&outByte);
        StreamOpenBuffer(&outRun);
        ResetTagBuffer(&byByte);
        TagCollect expected = kTagInputEnded;
        size_t i = 0;
        while (i < page.size() && expected == kTagInputEnded) {
            unsigned char c = (unsigned char)page[i++];
            if (AppendTagByte(&byByte, c, &outByte))
                expected = kTagOverflowed;
            else if (c == '>')
                expected = kTagComplete;
        }
        ResetTagBuffer(&byRun);
        StreamOpenMemory(&in, page.data(), page.size());
        EXPECT_EQ(CollectTag(&byRun, &in, &outRun), expected) << tail.size();
        EXPECT_EQ(StreamTell(&in), (int64_t)i) << tail.size();
        EXPECT_EQ(ReadBack(&outRun), ReadBack(&outByte)) << tail.size();
        EXPECT_EQ(std::string((char *)byRun.bytes, byRun.length),
                  std::string((char *)byByte.bytes, byByte.length));
        StreamClose(&outByte);
        StreamClose(&outRun);
    }
}

TEST(AppendTagByte, OverflowWritesTheFullBufferOnce)
{
    ByteStream out;
    StreamOpenBuffer(&out);
    TagBuffer t;
    ResetTagBuffer(&t);
    for (int i = 0; i < kTagBufferSize - 1; i++)
        ASSERT_FALSE(AppendTagByte(&t, (unsigned char)('a' + i % 26), &out));
    EXPECT_EQ(t.length, kTagBufferSize - 1);
    EXPECT_EQ(StreamMemorySize(&out), 0u);
    EXPECT_TRUE(AppendTagByte(&t, '>', &out));
    EXPECT_EQ(t.length, 0);
    std::string written = ReadBack(&out);
    ASSERT_EQ(written.size(), (size_t)kTagBufferSize);
    EXPECT_EQ(written[0], 'a');
    EXPECT_EQ(written.back(), '>');
    StreamClose(&out);
}
