// The pieces of the web archive reader that the command-line tests cannot
// reach one by one: SHA-1 and base32 against published vectors, the chunked
// body, the charset, the decoded encodings, and the reader fed one byte at a
// time.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>
#include <string>
#include "clean/sha1.h"
#include "clean/warc.h"

static std::string Hex(const unsigned char *d, size_t n)
{
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; i++) {
        snprintf(two, sizeof two, "%02x", d[i]);
        s += two;
    }
    return s;
}

// Bytes (i * 7 + 3) % 251 for i below n: lengths about the padding's
// edges (55, 56 and 63, 64, 65 bytes), checked against digests made elsewhere.
static std::string Pattern(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += (char)((i * 7 + 3) % 251);
    return s;
}

TEST(Sha1, PublishedVectorsInAnyPieces)
{
    struct { std::string text; const char *hex; } vectors[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {std::string(64, 'x'), "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"},
        {Pattern(55), "8829dc293fb52f1477aa7323310a5bcf949ce4f8"},
        {Pattern(56), "3c440665799f6f245108a068a11e59507d4f9e2c"},
        {Pattern(63), "5e2cdca8ef9552e40ad2228153e778e586eebc50"},
        {Pattern(65), "f71ba60012ec8015b3d5ba56798c4ff43aeb8beb"},
        {Pattern(119), "ea44537c014a6f0d332e845ed7f9331ae45440c5"},
        {Pattern(120), "939b2cbff515552d0bc4cfa0c332a57f9fce7736"},
        {Pattern(1000), "576418509284cbe426fa53fa4aa8da5fee1ab095"},
    };
    // Each text also from an address 1 and 3 bytes on, so that whole
    // blocks are read from unaligned memory; through the processor's SHA
    // instructions where it has them, and through the portable rounds.
    for (bool processor : {true, false}) {
        Sha1UseProcessorRounds(processor);
        if (processor && !Sha1ProcessorRounds())
            continue;
        for (const auto &v : vectors) {
            for (size_t shift : {(size_t)0, (size_t)1, (size_t)3}) {
                std::string moved = std::string(shift, '-') + v.text;
                const char *text = moved.data() + shift;
                for (size_t piece :
                     {(size_t)1, (size_t)7, (size_t)63, (size_t)64, (size_t)65, (size_t)1000001}) {
                    if (piece < 64 && v.text.size() > 100000 && shift)
                        continue;  // the long text in small pieces once is enough
                    Sha1 s;
                    Sha1Start(&s);
                    for (size_t at = 0; at < v.text.size(); at += piece)
                        Sha1Add(&s, text + at, std::min(piece, v.text.size() - at));
                    unsigned char d[kSha1Size];
                    Sha1Finish(&s, d);
                    EXPECT_EQ(Hex(d, kSha1Size), v.hex)
                        << v.text.size() << " bytes in pieces of " << piece << " shifted " << shift
                        << (processor ? " (processor)" : "");
                }
            }
        }
    }
    Sha1UseProcessorRounds(true);
    unsigned char d[kSha1Size];
    char text[kSha1Base32Size];
    Sha1Of("abc", 3, d);
    Sha1Base32(d, text);
    EXPECT_STREQ(text, "VGMT4NSHA2AWVOR6EVYXQUGCNSONBWE5");     // RFC 4648 alphabet
}

TEST(Warc, ChunkedBodies)
{
    struct { const char *in; bool ok; const char *out; } cases[] = {
        {"5\r\nhello\r\n0\r\n\r\n", true, "hello"},
        {"5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\n", true, "hello world"},
        {"5\nhello\n0\n\n", true, "hello"},
        {"A\r\n0123456789\r\n0\r\n\r\n", true, "0123456789"},
        {"<html>not chunked</html>", false, ""},
        {"5\r\nhel", false, ""},
        {"5\r\nhelloX\r\n0\r\n\r\n", false, ""},
        {"5 junk\r\nhello\r\n0\r\n", false, ""},
        {"ffffffffffffffff\r\nx", false, ""},
    };
    for (const auto &c : cases) {
        std::string out;
        bool ok = Dechunk((const unsigned char *)c.in, strlen(c.in), &out, 1 << 20);
        EXPECT_EQ(ok, c.ok) << c.in;
        if (ok) {
            EXPECT_EQ(out, c.out) << c.in;
        }
    }
}

TEST(Warc, CharsetAndEncodings)
{
    EXPECT_EQ(CharsetOf("text/html; charset=ISO-8859-1"), "iso-8859-1");
    EXPECT_EQ(CharsetOf("text/html;charset=\"UTF-8\"; x=y"), "utf-8");
    EXPECT_EQ(CharsetOf("text/html"), "");

    std::string page(5000, 'p'), out;
    unsigned char packed[6000];
    uLongf n = sizeof packed;
    ASSERT_EQ(compress(packed, &n, (const unsigned char *)page.data(), page.size()), Z_OK);
    EXPECT_EQ(DecodeContent("deflate", packed, n, &out, 1 << 20), 0);
    EXPECT_EQ(out, page);
    // Raw deflate, as some servers send it: the zlib header and check left out.
    EXPECT_EQ(DecodeContent("Deflate", packed + 2, n - 6, &out, 1 << 20), 0);
    EXPECT_EQ(out, page);
    EXPECT_EQ(DecodeContent("deflate", packed, n, &out, 100), kSkipTooLarge);
    EXPECT_EQ(DecodeContent("br", packed, n, &out, 1 << 20), kSkipUndecodable);
    EXPECT_EQ(DecodeContent("gzip", packed, n, &out, 1 << 20), kSkipUndecodable);
    EXPECT_EQ(DecodeContent("gzip", packed, 3, &out, 1 << 20), kSkipUndecodable);
    EXPECT_EQ(DecodeContent("identity", (const unsigned char *)"ab", 2, &out, 1 << 20), 0);
    EXPECT_EQ(out, "ab");
}

namespace {
struct Trickle {
    std::string data;
};
long OneByte(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    const std::string &d = ((Trickle *)context)->data;
    if (n == 0 || offset >= (int64_t)d.size())
        return 0;
    buf[0] = (unsigned char)d[(size_t)offset];
    return 1;
}
}  // namespace

// Every read of the raw file gives one byte, so every state meets the end
// of its buffer at every place: the records come out the same.
TEST(Warc, ReaderFedOneByteAtATime)
{
    std::string rec1 = "WARC/1.1\r\nWARC-Type: resource\r\nWARC-Record-ID: <urn:x:1>\r\n"
                       "Content-Length: 5\r\n\r\nhello\r\n\r\n";
    std::string bad = "WARC/1.0\r\nWARC-Type: resource\r\nWARC-Record-ID: <urn:x:2>\r\n"
                      "Content-Length: 9\r\n\r\nshort\r\n\r\n";
    std::string rec3 = "WARC/1.0\r\nWARC-Type: metadata\r\nWARC-Record-ID: <urn:x:3>\r\n"
                       "Content-Length: 0\r\n\r\n\r\n\r\n";
    Trickle t{rec1 + bad + rec3};
    ByteStream raw;
    StreamOpenReader(&raw, OneByte, &t);
    WarcReader r;
    ASSERT_TRUE(WarcReaderOpen(&r, &raw, 1 << 20));
    WarcRecord rec;
    ASSERT_EQ(WarcReadRecord(&r, &rec), kWarcGot);
    EXPECT_EQ(rec.version, 11);
    EXPECT_EQ(rec.block, "hello");
    EXPECT_EQ(rec.head.size(), rec1.size() - 9);
    ASSERT_EQ(WarcReadRecord(&r, &rec), kWarcGot);
    EXPECT_EQ(rec.id, "<urn:x:3>");
    EXPECT_EQ(rec.block, "");
    EXPECT_EQ(WarcReadRecord(&r, &rec), kWarcEnd);
    EXPECT_EQ(r.skipped[kSkipBadLength], 1);
    WarcReaderClose(&r);
    StreamClose(&raw);
}
