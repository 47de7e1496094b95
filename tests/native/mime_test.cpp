// Single-file pages: the MIME reader's verdicts, the codecs' round trips and
// line rules, and the clean of a whole document (root part found, decoded,
// cleaned, encoded; every other byte kept; a part's address local).
#include <gtest/gtest.h>
#include <string>
#include "app/options.h"
#include "clean/clean.h"
#include "clean/mime.h"

namespace {

const char kHead[] =
    "From: <Saved by Blink>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/related;\r\n\ttype=\"text/html\";\r\n\tboundary=\"----B\"\r\n\r\n";

std::string Part(const std::string &headers, const std::string &body)
{
    return "------B\r\n" + headers + "\r\n" + body + "\r\n";
}

std::string Doc(const std::string &parts, const std::string &head = kHead)
{
    return head + parts + "------B--\r\n";
}

// Reads from memory (one window), or through a temporary file (64 KiB
// windows, so lines meet their ends).
MimeStatus Read(const std::string &doc, MimeDocument *d, bool throughFile = false)
{
    static ByteStream in;       // its buffer is too large for the stack
    if (!throughFile) {
        StreamOpenMemory(&in, doc.data(), doc.size());
        return ReadMimeDocument(&in, d);
    }
    EXPECT_TRUE(StreamCreateTemp(&in));
    StreamWrite(&in, doc.data(), doc.size());
    StreamFlush(&in);
    StreamRewind(&in);
    MimeStatus status = ReadMimeDocument(&in, d);
    StreamClose(&in);
    return status;
}

std::string Decode(MimeEncoding e, const std::string &body, MimeLayout *layout)
{
    ByteStream in, out;
    StreamOpenMemory(&in, body.data(), body.size());
    StreamOpenBuffer(&out);
    MimeDecode(e, &in, (int64_t)body.size(), &out, layout);
    std::string s((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return s;
}

std::string Encode(const MimeLayout &layout, const std::string &page)
{
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    MimeEncode(&layout, &in, &out);
    std::string s((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return s;
}

std::string Clean(const std::string &doc, uint32_t options, CleanStatus *status = nullptr)
{
    MimeDocument d;
    EXPECT_EQ(Read(doc, &d), kMimeOk);
    CleanSwitches sw = SwitchesFromWord(options);
    ByteStream out;
    StreamOpenBuffer(&out);
    CleanStatus st = CleanArchiveBytes(&sw, &d, doc.data(), doc.size(), &out, kNoMemoryLimit, nullptr);
    if (status)
        *status = st;
    std::string s((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    FreeMimeDocument(&d);
    return s;
}


TEST(MimeReader, WellFormedOrRefusedWithItsReason)
{
    const std::string html = "Content-Type: text/html\r\n";
    struct Case {
        const char *what;
        std::string doc;
        MimeStatus status;
    } cases[] = {
        {"two parts", Doc(Part(html, "<p>a") + Part("Content-Type: image/png\r\n", "x")), kMimeOk},
        {"LF line ends", "Content-Type: multipart/related; boundary=b\n\n--b\nContent-Type: text/html\n\n<p>\n--b--\n", kMimeOk},
        {"an HTML page", "<html><body>hello</body></html>", kMimeNoHeaders},
        {"not related", Doc(Part(html, "x"), "Content-Type: multipart/mixed; boundary=\"----B\"\r\n\r\n"), kMimeNotMultipart},
        {"no boundary", Doc(Part(html, "x"), "Content-Type: multipart/related\r\n\r\n"), kMimeNoBoundary},
        {"no parts", std::string(kHead) + "just text\r\n", kMimeNoParts},
        {"unterminated part", std::string(kHead) + Part(html, "<p>cut"), kMimeUnterminated},
        {"unterminated headers", std::string(kHead) + "------B\r\nContent-Type: text/html\r\n", kMimeUnterminated},
        {"headers never end", "Content-Type: multipart/related; boundary=b\r\n", kMimeUnterminated},
        {"root not html", Doc(Part("Content-Type: image/png\r\n", "x") + Part(html, "<p>")), kMimeRootNotHtml},
        {"root without type", Doc(Part("Content-Location: a\r\n", "x")), kMimeRootNotHtml},
        {"unknown encoding", Doc(Part(html + "Content-Transfer-Encoding: x-uue\r\n", "x")), kMimeBadEncoding},
        {"start names no part",
         Doc(Part(html, "x"), "Content-Type: multipart/related; boundary=\"----B\"; start=\"<nope>\"\r\n\r\n"),
         kMimeNoRoot},
        {"boundary only as a prefix", std::string(kHead) + Part(html, "x") + "------Bx--\r\n", kMimeUnterminated},
        {"dashes in a body", Doc(Part(html, "-a\r\n--\r\n------Bx\r\n-") + Part(html, "")), kMimeOk},
    };
    for (const Case &c : cases) {
        MimeDocument d;
        EXPECT_EQ(Read(c.doc, &d), c.status) << c.what;
        FreeMimeDocument(&d);
    }
}

TEST(MimeReader, RootByStartElseFirstAndThePartsAddresses)
{
    std::string head = "Content-Type: multipart/related; boundary=\"----B\"; start=\"<root@x>\"\r\n\r\n";
    std::string doc = Doc(Part("Content-Type: image/gif\r\nContent-Location: http://h/p_files/a.gif\r\n", "GIF") +
                              Part("Content-Type: text/html; charset=\"UTF-8\"\r\nContent-ID: <root@x>\r\n", "<p>root"),
                          head);
    MimeDocument d;
    ASSERT_EQ(Read(doc, &d), kMimeOk);
    EXPECT_EQ(doc.substr((size_t)d.rootStart, (size_t)(d.rootEnd - d.rootStart)), "<p>root");
    EXPECT_STREQ(d.charset, "utf-8");
    EXPECT_EQ(d.parts, 2);
    for (const char *a : {"http://h/p_files/a.gif", "cid:root@x"})
        EXPECT_TRUE(MimeHasAddress(&d.addresses, a, strlen(a))) << a;
    EXPECT_FALSE(MimeHasAddress(&d.addresses, "http://h/p_files/b.gif", 22));
    FreeMimeDocument(&d);

    // Lines of dashes in a body, one the boundary with more after it, and
    // bodies ending at buffer ends: the root part is all of its body.
    for (size_t pad : {0, 65370, 65379, 65380, 65381, 65382, 65383, 65384, 65385, 65386}) {
        std::string body = std::string(pad, 'x') + "\r\n-\r\n------B-x\r\n--";
        std::string dashes = Doc(Part("Content-Type: text/html\r\n", body) + Part("Content-Type: text/html\r\n", "-"));
        ASSERT_EQ(Read(dashes, &d, true), kMimeOk) << pad;
        EXPECT_EQ(dashes.substr((size_t)d.rootStart, (size_t)(d.rootEnd - d.rootStart)), body) << pad;
        EXPECT_EQ(d.parts, 2);
        FreeMimeDocument(&d);
    }

    std::string plain = Doc(Part("Content-Type: text/html\r\n", "<p>first") + Part("Content-Type: text/html\r\n", "<p>2"));
    ASSERT_EQ(Read(plain, &d), kMimeOk);
    EXPECT_EQ(plain.substr((size_t)d.rootStart, (size_t)(d.rootEnd - d.rootStart)), "<p>first");
    FreeMimeDocument(&d);
}

TEST(MimeCodecs, DecodeEncodeKeepLayoutAndLineRules)
{
    struct Case {
        MimeEncoding e;
        const char *body;
        const char *decoded;
    } cases[] = {
        {kMimeQuotedPrintable, "<scr=\r\nipt>a=3Db</script>", "<script>a=b</script>"},
        {kMimeQuotedPrintable, "x =20\r\ny", "x  \r\ny"},
        {kMimeQuotedPrintable, "a=\nb\nc", "ab\nc"},
        {kMimeQuotedPrintable, "=E2=80=94 =ZZ =", "\xE2\x80\x94 =ZZ ="},
        {kMimeBase64, "PHA+aGk8L3A+\r\n", "<p>hi</p>"},
        {kMimeBase64, "YQ==", "a"},
        {kMimeIdentity, "<p>a=3D</p>", "<p>a=3D</p>"},
    };
    for (const Case &c : cases) {
        MimeLayout layout;
        std::string page = Decode(c.e, c.body, &layout);
        EXPECT_EQ(page, c.decoded) << c.body;
        EXPECT_EQ(Decode(c.e, Encode(layout, page), &layout), page) << c.body;
    }

    // Quoted-printable: lines of at most 76 with the soft break, '=' as
    // =3D, a blank before a line end encoded, the line ends as they were.
    MimeLayout qp = {kMimeQuotedPrintable, true, 0};
    std::string page = std::string(300, 'x') + "a=b \r\nc\t\nd \r" + std::string(100, '\xE9') + " ";
    std::string enc = Encode(qp, page);
    size_t from = 0;
    for (size_t at; (at = enc.find('\n', from)) != std::string::npos; from = at + 1) {
        size_t len = at - from - (at > from && enc[at - 1] == '\r');
        EXPECT_LE(len, 76u);
        std::string line = enc.substr(from, len);
        EXPECT_TRUE(line.empty() || (line.back() != ' ' && line.back() != '\t')) << line;
    }
    EXPECT_NE(enc.find("a=3Db=20\r\nc=09\nd =0D"), std::string::npos) << enc;
    EXPECT_EQ(enc.substr(enc.size() - 3), "=20");
    MimeLayout back;
    EXPECT_EQ(Decode(kMimeQuotedPrintable, enc, &back), page);
    EXPECT_TRUE(back.crlf);

    // Base64: lines as long as the input's, with its line end.
    std::string b64 = "PGh0bWw+PGJvZHk+PHA+\nSGVsbG8gd29ybGQ8L3A+\nPC9ib2R5PjwvaHRtbD4=";
    MimeLayout layout;
    std::string html = Decode(kMimeBase64, b64, &layout);
    EXPECT_EQ(layout.lineLength, 20);
    EXPECT_FALSE(layout.crlf);
    EXPECT_EQ(Encode(layout, html), b64);
}

// The quoted-printable codecs' quick paths (plain runs taken sixteen or
// eight bytes at a time, runs of bytes written =XX) agree with the rules
// wherever a sequence falls in a run, and at a line's limit.
TEST(MimeCodecs, QuotedPrintableRunsWhereverTheSequenceFalls)
{
    for (size_t k = 0; k <= 40; k++) {
        std::string before(k, 'a'), after(40 - k, 'y');
        struct Case {
            std::string body, decoded;
        } cases[] = {
            {before + "=41" + after, before + "A" + after},
            {before + "=\r\n" + after, before + after},
            {before + "=\n" + after, before + after},
            {before + "=4" + after, before + "=4" + after},
            {before + "=", before + "="},
            {before + "=C3=A9=3D" + after, before + "\xC3\xA9=" + after},
        };
        for (const Case &c : cases) {
            MimeLayout layout;
            EXPECT_EQ(Decode(kMimeQuotedPrintable, c.body, &layout), c.decoded) << c.body;
        }
    }
    std::string row24;
    for (int i = 0; i < 24; i++)
        row24 += "=E9";
    MimeLayout crlf = {kMimeQuotedPrintable, true, 0}, lf = {kMimeQuotedPrintable, false, 0};
    struct Case {
        const MimeLayout *layout;
        std::string page, encoded;
    } cases[] = {
        {&crlf, "x" + std::string(30, '\xE9'), "x" + row24 + "=\r\n" + row24.substr(0, 18)},
        {&lf, std::string(25, '\xE9') + " \n=", row24 + "=E9=\n=20\n=3D"},
        {&crlf, std::string(74, 'a') + "\xE9=", std::string(74, 'a') + "=\r\n=E9=3D"},
        {&crlf, "\xE9 \xE9\t\r\n\x01\x7F", "=E9 =E9=09\r\n=01=7F"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Encode(*c.layout, c.page), c.encoded) << c.page;
}

TEST(MimeClean, RootCleanedEveryOtherByteKeptPartsAreLocal)
{
    std::string root =
        "<html><head><script src=3D\"http://h/x.js\"></script></head><body><p>Text</p>=\r\n"
        "<img src=3D\"http://h/p_files/a.png\"><img src=3D\"http://ads.net/t.gif\">=\r\n"
        "<img src=3D\"cid:pic@x\"><img src=3D\"//h/p_files/a.png\"><scr=\r\nipt>alert(1)</script></body></html>";
    std::string rest = Part("Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
                            "Content-Location: http://h/p_files/a.png\r\n",
                            "iVBORw0KGgo=") +
                       Part("Content-Type: image/png\r\nContent-ID: <pic@x>\r\n", "PNG");
    std::string doc = Doc(Part("Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                               "Content-Location: http://h/p.htm\r\n",
                               root) +
                          rest);
    uint32_t defaults = kDefaultOptions & ~(uint32_t)kOptExtract;
    CleanStatus status;
    std::string out = Clean(doc, defaults, &status);
    ASSERT_EQ(status, kCleanDone);
    size_t start = doc.find("\r\n\r\n", doc.find("------B")) + 4;
    EXPECT_EQ(out.substr(0, start), doc.substr(0, start));
    ASSERT_GE(out.size(), rest.size() + 13);
    EXPECT_EQ(out.substr(out.size() - rest.size() - 13), "\r\n" + rest + "------B--\r\n");
    MimeLayout layout;
    std::string page = Decode(kMimeQuotedPrintable, out.substr(start, out.size() - rest.size() - 13 - start), &layout);
    EXPECT_EQ(page.find("script"), std::string::npos) << page;
    EXPECT_EQ(page.find("ads.net"), std::string::npos) << page;
    for (const char *kept : {"http://h/p_files/a.png\"", "cid:pic@x", "\"//h/p_files/a.png\"", "<p>Text</p>"})
        EXPECT_NE(page.find(kept), std::string::npos) << kept << " in " << page;

    // Nothing to take out: the document as it was, byte for byte.
    std::string clean = Doc(Part("Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n",
                                 "<p>a =\r\nb</p>  ") +
                            rest);
    EXPECT_EQ(Clean(clean, 0), clean);
}

// The decoded view reads what the decoder writes, wherever it is read:
// straight through, after seeks back past its marks, with a twin reading
// elsewhere between its reads, and with the body inside a larger stream;
// a failed read of the body is a failed read of the view.
long FailFrom(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    const std::string &s = *(const std::string *)context;
    if (offset >= (int64_t)s.size() / 2)
        return -1;
    size_t take = std::min(n, s.size() / 2 - (size_t)offset);
    memcpy(buf, s.data() + offset, take);
    return (long)take;
}

TEST(MimeView, ReadsAsDecodedWhereverItIsRead)
{
    std::string page;
    for (unsigned i = 0; page.size() < 300000; i++)
        page += (i % 7 == 0) ? "<p a=\"b\">\xC3\xA9 \r\n" : (i % 5 == 0) ? "x \t\n" : "word=word  ";
    const MimeLayout layouts[] = {
        {kMimeQuotedPrintable, true, 0}, {kMimeQuotedPrintable, false, 0},
        {kMimeBase64, true, 76},         {kMimeBase64, false, 0},
        {kMimeIdentity, true, 0},
    };
    for (const MimeLayout &l : layouts) {
        std::string body = Encode(l, page), around = "head" + body + "tail";
        MimeLayout decodedLayout, viewLayout;
        ASSERT_EQ(Decode(l.encoding, body, &decodedLayout), page);

        ByteStream in, view, twin;
        StreamOpenMemory(&in, around.data(), around.size());
        MimeView *v = MimeOpenView(&view, &in, 4, 4 + (int64_t)body.size(), l.encoding, &viewLayout);
        ASSERT_TRUE(v);
        std::string whole;
        for (int c; (c = StreamGet(&view)) >= 0;)
            whole += (char)c;
        EXPECT_EQ(whole, page) << l.encoding;
        EXPECT_EQ(viewLayout.crlf, decodedLayout.crlf);
        EXPECT_EQ(viewLayout.lineLength, decodedLayout.lineLength);

        StreamOpenTwin(&twin, &view);
        const int64_t places[] = {250000, 3, 131072, 299000, 65535, 0, 200001};
        for (size_t k = 0; k < sizeof places / sizeof *places; k++) {
            int64_t at = places[k], other = places[(k + 3) % 7];
            StreamSeek(&view, at);
            StreamSeek(&twin, other);
            for (int i = 0; i < 5000; i++) {
                int a = StreamGet(&view), b = StreamGet(&twin);
                ASSERT_EQ(a, at + i < (int64_t)page.size() ? (unsigned char)page[at + i] : -1) << at + i;
                ASSERT_EQ(b, other + i < (int64_t)page.size() ? (unsigned char)page[other + i] : -1) << other + i;
            }
        }
        EXPECT_TRUE(MimeFinishView(v));
        EXPECT_FALSE(StreamReadFailed(&view));
        StreamClose(&view);
        MimeCloseView(v);
    }

    std::string body = Encode(layouts[0], page);
    ByteStream in, view;
    StreamOpenReader(&in, FailFrom, &body);
    MimeLayout layout;
    MimeView *v = MimeOpenView(&view, &in, 0, (int64_t)body.size(), kMimeQuotedPrintable, &layout);
    ASSERT_TRUE(v);
    while (StreamGet(&view) >= 0) {
    }
    EXPECT_TRUE(StreamReadFailed(&view));
    EXPECT_FALSE(MimeFinishView(v));
    StreamClose(&view);
    MimeCloseView(v);
}

}  // namespace
