// The tag buffer and the two searches over tag text.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "clean/tagbuf.h"
#include "tests/native/support.h"

static void Load(const char *tag)
{
    ResetTagBuffer();
    size_t n = strlen(tag);
    memcpy(TagBuffer, tag, n);
    TagLength = (int32_t)n;
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
                            "<img src=  \" http:a\">", "<img SRC=hTtP:x>"}) {
        Load(tag);
        EXPECT_TRUE(IsRemoteLink(true)) << tag;
    }
    Load("<base href=\"http://x/\">");
    EXPECT_TRUE(IsRemoteLink(false));
}

TEST(IsRemoteLink, RefusedForms)
{
    for (const char *tag : {"<img src=\"./http:a\">", "<img src=\"https:a\">",
                            "<img src=\"\" \"http:a\">", "<img src\n=http:a>",
                            "<img src=\thttp:a>", "<img lowsrc=a.gif src=http:b>",
                            "<img src=h>", "<img src=>", "<img src", "<img alt=x>"}) {
        Load(tag);
        EXPECT_FALSE(IsRemoteLink(true)) << tag;
    }
    Load("<base target=x>");
    EXPECT_FALSE(IsRemoteLink(false));
    Load("<A HREF=H>");
    EXPECT_FALSE(IsRemoteLink(false));
}

TEST(AppendTagByte, OverflowWritesTheFullBufferOnce)
{
    ByteStream *out = MakeOutput();
    ResetTagBuffer();
    for (int i = 0; i < kTagBufferSize - 1; i++)
        ASSERT_FALSE(AppendTagByte((unsigned char)('a' + i % 26), out));
    EXPECT_EQ(TagLength, kTagBufferSize - 1);
    EXPECT_EQ(ReadBack(out), "");
    EXPECT_TRUE(AppendTagByte('>', out));
    EXPECT_EQ(TagLength, 0);
    std::string written = ReadBack(out);
    ASSERT_EQ(written.size(), (size_t)kTagBufferSize);
    EXPECT_EQ(written[0], 'a');
    EXPECT_EQ(written.back(), '>');
    CloseStream(out);
}
