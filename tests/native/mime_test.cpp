// Single-file pages: the MIME reader's verdicts, the codecs' round trips and
// line rules, and the clean of a whole document (root part found, decoded,
// cleaned, encoded; every other byte kept; a part's address local).
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include "app/options.h"
#include "clean/address.h"
#include "clean/clean.h"
#include "clean/mime.h"
#include "clean/mimeparts.h"

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

std::string Clean(const std::string &doc, uint32_t options, CleanStatus *status = nullptr,
                  size_t memoryLimit = kNoMemoryLimit)
{
    MimeDocument d;
    EXPECT_EQ(Read(doc, &d), kMimeOk);
    CleanSwitches sw = SwitchesFromWord(options);
    ByteStream out;
    StreamOpenBuffer(&out);
    CleanStatus st = CleanArchiveBytes(&sw, &d, doc.data(), doc.size(), &out, memoryLimit, nullptr);
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

// The quoted-printable codecs' quick paths (plain runs taken in windows of
// sixty-four, sixteen or eight bytes, runs of bytes written =XX) agree with
// the rules wherever a sequence falls in a run or a window, and at a line's
// limit.
TEST(MimeCodecs, QuotedPrintableRunsWhereverTheSequenceFalls)
{
    for (size_t k = 0; k <= 200; k++) {
        std::string before(k, 'a'), after(200 - k, 'y');
        struct Case {
            std::string body, decoded;
        } cases[] = {
            {before + "=41" + after, before + "A" + after},
            {before + "=\r\n" + after, before + after},
            {before + "=\n" + after, before + after},
            {before + "=4" + after, before + "=4" + after},
            {before + "=", before + "="},
            {before + "=C3=A9=3D" + after, before + "\xC3\xA9=" + after},
            {before + "= \r\n" + after, before + after},
            {before + "==41=" + after, before + "=A=" + after},
            {before + "=4\r\n=\ry" + after, before + "=4\r\n=y" + after},
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

// The encoder fed in pieces (as a stage writes them) writes what it writes
// fed at once, wherever the pieces end: in a run, at a blank before a line
// end, between a CR and its LF, inside a base64 group.
TEST(MimeCodecs, EncodedTheSameInPiecesOfAnySize)
{
    std::string page;
    for (unsigned i = 0; page.size() < 20000; i++)
        page += i % 11 == 0 ? "<p class=\"a\">\xC3\xA9 \r\n" : i % 7 == 0 ? "tab\t\n \r" : i % 5 == 0 ? std::string(90, 'w')
                                                                            : "word=word  ";
    const MimeLayout layouts[] = {
        {kMimeQuotedPrintable, true, 0}, {kMimeQuotedPrintable, false, 0}, {kMimeBase64, true, 76},
        {kMimeBase64, false, 0},         {kMimeIdentity, true, 0},
    };
    const size_t sizes[] = {1, 2, 3, 5, 16, 17, 75, 76, 77, 4096};
    for (const MimeLayout &l : layouts) {
        std::string whole = Encode(l, page);
        for (size_t size : sizes) {
            ByteStream out;
            StreamOpenBuffer(&out);
            MimeEncoder *e = MimeStartEncoder(&l, &out);
            ASSERT_TRUE(e);
            for (size_t at = 0, k = 0; at < page.size(); at += size + k % 3, k++)
                MimeEncodeBytes(e, (const unsigned char *)page.data() + at,
                                std::min(size + k % 3, page.size() - at));
            MimeEndEncoder(e);
            StreamFlush(&out);
            std::string pieces((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
            StreamClose(&out);
            EXPECT_TRUE(pieces == whole) << l.encoding << " in pieces of " << size;
        }
    }
}

// The decoder given a body in stretches of any size gives what it gives a
// byte at a time (where no quick path runs), on bodies thick with '=',
// digits, blanks and line ends in every order.
TEST(MimeCodecs, DecodedTheSameInStretchesOfAnySize)
{
    static const char kAlphabet[] = "=====3DAfa \t\r\n\r\nxy";
    uint32_t seed = 12345;
    std::string body;
    while (body.size() < 60000) {
        seed = seed * 1103515245 + 12345;
        size_t plain = seed >> 16 & 63;
        body.append(plain, 'p');
        for (uint32_t k = seed >> 22 & 3, s = seed; k < 4; k++, s /= 19)
            body += kAlphabet[s % (sizeof kAlphabet - 1)];
    }
    auto decoded = [&](size_t size) {
        std::string out;
        unsigned char buf[kMimeStretch + 2];
        MimeDecoder d;
        MimeLayout l;
        MimeStartDecoder(&d, kMimeQuotedPrintable, &l);
        for (size_t at = 0, k = 0; at < body.size(); at += size + k % 2, k++) {
            size_t n = std::min(size + k % 2, body.size() - at);
            out.append((const char *)buf, MimeDecodeStretch(&d, (const unsigned char *)body.data() + at, n, buf, &l));
        }
        return out.append((const char *)buf, MimeDecodeEnd(&d, buf));
    };
    std::string bytewise = decoded(1);
    for (size_t size : {2, 3, 64, 129, 130, 131, 1000, (int)kMimeStretch - 1})
        EXPECT_TRUE(decoded(size) == bytewise) << "in stretches of " << size;
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

// Under the companion-files switch a part that only removed elements named
// is left out whole (its delimiter line with it), and every other byte
// stays: a part still named, one that nothing named before, the root.
TEST(MimeClean, WhatOnlyRemovedElementsNamedIsLeftOut)
{
    const uint32_t defaults = kDefaultOptions & ~(uint32_t)kOptExtract;
    const std::string png = "Content-Type: image/png\r\n";
    // More parts than the original page is searched for: its references
    // are read (a relative one among them).
    std::string scripts = "<img src=\"http://h/a.png\">";
    std::vector<std::pair<std::string, bool>> manyBodies = {{png + "Content-Location: http://h/a.png\r\n\r\nA", true}};
    for (int i = 0; i < 10; i++) {
        std::string name = "s" + std::to_string(i) + ".js";
        scripts += "<script src=\"" + (i ? "http://h/" + name : name) + "\"></script>";
        manyBodies.push_back({"Content-Type: text/javascript\r\nContent-Location: http://h/" + name + "\r\n\r\nS", false});
    }
    // More parts than are searched for, but the cleaned page still names
    // all but a few: those few are searched for (a relative one missed).
    std::string pictures = "<script src=\"http://h/x.js\"></script><script src=\"y.js\"></script>";
    std::vector<std::pair<std::string, bool>> picturedBodies = {
        {"Content-Type: text/javascript\r\nContent-Location: http://h/x.js\r\n\r\nX", false},
        {"Content-Type: text/javascript\r\nContent-Location: http://h/y.js\r\n\r\nY", true}};
    for (int i = 0; i < 9; i++) {
        std::string name = "p" + std::to_string(i) + ".png";
        pictures += "<img src=\"http://h/" + name + "\">";
        picturedBodies.push_back({png + "Content-Location: http://h/" + name + "\r\n\r\nP", true});
    }
    struct Case {
        const char *what;
        const char *root;
        uint32_t options;
        std::vector<std::pair<std::string, bool>> parts;    // headers and body, and whether it stays
    } cases[] = {
        {"a picture still named stays, a script whose SCRIPT went goes, an unnamed part stays",
         "<img src=\"http://h/a.png\"><script src=\"http://h/x.js\"></script>", defaults,
         {{png + "Content-Location: http://h/a.png\r\n\r\nA", true},
          {"Content-Type: text/javascript\r\nContent-Location: http://h/x.js\r\n\r\nX", false},
          {png + "Content-Location: http://h/unnamed.png\r\n\r\nU", true}}},
        {"a style sheet that went takes what only it named, relative and @import",
         "<link rel=stylesheet href=\"http://h/css/s.css\"><img src=\"http://h/a.png\">", defaults,
         {{"Content-Type: text/css\r\nContent-Location: http://h/css/s.css\r\n\r\n"
           "@import \"more.css\"; b{background:url(../img/bg.png)} i{background:url(/a.png)}", false},
          {"Content-Type: text/css\r\nContent-Location: http://h/css/more.css\r\n\r\nM", false},
          {png + "Content-Location: http://h/img/bg.png\r\n\r\nB", false},
          {png + "Content-Location: http://h/a.png\r\n\r\nA", true}}},
        {"a picture whose IMG went stays while a kept style sheet names it",
         "<link rel=stylesheet href=\"http://h/s.css\"><img src=\"//h/bg.png\"><img src=\"http://h/c.png#x\">",
         (defaults & ~(uint32_t)kOptStyles) | kOptPictures,
         {{"Content-Type: text/css\r\nContent-Transfer-Encoding: base64\r\nContent-Location: http://h/s.css\r\n\r\n"
           "Yntjb2xvcjpyZWQ7YmFja2dyb3VuZDp1cmwoYmcucG5nKX0=", true},
          {png + "Content-Location: http://h/bg.png\r\n\r\nB", true},
          {png + "Content-Location: http://h/c.png\r\n\r\nC", false}}},
        {"cid: references",
         "<script src=\"cid:js@x\"></script><img src=\"cid:pic@x\">", defaults,
         {{"Content-Type: text/javascript\r\nContent-ID: <js@x>\r\n\r\nJ", false},
          {png + "Content-ID: <pic@x>\r\n\r\nP", true}}},
        {"a frame that went takes its part and what only it named",
         "<iframe src=\"http://h/f.htm\"></iframe><script src=\"http://h/x.js\"></script>", defaults,
         {{"Content-Type: text/html\r\nContent-Location: http://h/f.htm\r\n\r\n<img src=\"http://h/in.png\">",
           false},
          {png + "Content-Location: http://h/in.png\r\n\r\nI", false},
          {"Content-Type: text/javascript\r\nContent-Location: http://h/x.js\r\n\r\nX", false}}},
        {"more parts than are searched for", scripts.c_str(), defaults, manyBodies},
        {"more parts, few of them left unnamed", pictures.c_str(), defaults, picturedBodies},
        {"a page that names no part keeps them all", "<script>var a = 'x.js';</script>", defaults,
         {{png + "Content-Location: http://h/a.png\r\n\r\nA", true},
          {"Content-Type: text/javascript\r\nContent-Location: http://h/x.js\r\n\r\nX", true}}},
        {"a relative reference is not searched for: its part stays",
         "<img src=\"http://h/a.png\"><script src=\"x.js\"></script>", defaults,
         {{png + "Content-Location: http://h/a.png\r\n\r\nA", true},
          {"Content-Type: text/javascript\r\nContent-Location: http://h/x.js\r\n\r\nX", true}}},
        {"the switch off keeps every part",
         "<img src=\"http://h/a.png\"><script src=\"http://h/x.js\"></script>", defaults & ~(uint32_t)kOptCompanionFiles,
         {{png + "Content-Location: http://h/a.png\r\n\r\nA", true},
          {"Content-Type: text/javascript\r\nContent-Location: http://h/x.js\r\n\r\nX", true}}},
    };
    for (const Case &c : cases) {
        std::string root = std::string("<html><body><p>Text</p>") + c.root + "</body></html>";
        // The root first (encoded as it is cleaned; with the extraction, the
        // original is searched whole before the first piece is written),
        // and after a part (held until what may go is known): the start
        // parameter names the root.
        std::string head = std::string(kHead).replace(std::string(kHead).find("\tboundary"), 0,
                                                       "\tstart=\"<root@x>\";\r\n");
        std::string rootPart = Part("Content-Type: text/html\r\nContent-ID: <root@x>\r\n"
                                    "Content-Location: http://h/page.htm\r\n", root);
        for (int form = 0; form < 3; form++) {
            size_t before = form == 1 ? 1 : 0;
            uint32_t options = form == 2 ? c.options | kOptExtract : c.options;
            std::string doc = head, want = head;
            for (size_t i = 0; i < c.parts.size(); i++) {
                if (i == before)
                    doc += rootPart;
                doc += "------B\r\n" + c.parts[i].first + "\r\n";
                if (c.parts[i].second)
                    want += "------B\r\n" + c.parts[i].first + "\r\n";
            }
            doc += "------B--\r\n";
            CleanStatus status;
            std::string out = Clean(doc, options, &status);
            ASSERT_EQ(status, kCleanDone) << c.what;
            size_t at = out.find("------B\r\nContent-Type: text/html\r\nContent-ID: <root@x>");
            size_t after = out.find("------B", out.find("</html>"));
            ASSERT_NE(at, std::string::npos) << c.what;
            ASSERT_NE(after, std::string::npos) << c.what;
            EXPECT_EQ(out.substr(0, at) + out.substr(after), want + "------B--\r\n") << c.what << ", form " << form;
            EXPECT_NE(out.find("<p>Text</p>"), std::string::npos) << c.what;
        }
    }
}

// The root part is encoded as the chain writes it: the same page is the
// original body byte for byte; a cleaned one, wherever it first differs
// (its first bytes, past the first pieces the chain writes, only its end
// taken away), is the cleaned page encoded, and the part after it stays.
TEST(MimeClean, EncodedAsItIsCleanedWhereverItFirstDiffers)
{
    const uint32_t options = kDefaultOptions & ~(uint32_t)kOptExtract;
    std::string text;
    for (int i = 0; text.size() < 150000; i++)
        text += "<p>Line " + std::to_string(i) + " of plain text, a=b and \xC3\xA9.</p>\r\n";
    const std::string script = "<script>var a = 1;</script>";
    const std::pair<const char *, std::string> pages[] = {
        {"unchanged", "<html><body>" + text + "</body></html>"},
        {"differs at once", script + "<html><body>" + text + "</body></html>"},
        {"differs past the first pieces", "<html><body>" + text + script + text + "</body></html>"},
        {"its end taken away", "<html><body>" + text + "</body></html>" + script},
    };
    const MimeLayout layouts[] = {{kMimeQuotedPrintable, true, 0}, {kMimeBase64, false, 76}};
    const std::string picture = Part("Content-Type: image/png\r\nContent-Location: http://h/a.png\r\n", "P");
    for (const auto &page : pages) {
        for (const MimeLayout &l : layouts) {
            std::string headers = std::string("Content-Type: text/html\r\nContent-Transfer-Encoding: ") +
                                  (l.encoding == kMimeBase64 ? "base64" : "quoted-printable") + "\r\n";
            std::string head = std::string(kHead) + "------B\r\n" + headers + "\r\n";
            std::string tail = "\r\n" + picture + "------B--\r\n";
            std::string doc = head + Encode(l, page.second) + tail;
            // Held decoded, and decoded as it is read (a limit below the
            // page's size lets it hold nothing).
            CleanStatus status;
            std::string out = Clean(doc, options, &status);
            ASSERT_EQ(status, kCleanDone) << page.first;
            CleanStatus streamedStatus;
            EXPECT_TRUE(Clean(doc, options, &streamedStatus, 100000) == out) << page.first << " " << l.encoding;
            EXPECT_EQ(streamedStatus, kCleanDone);
            CleanSwitches sw = SwitchesFromWord(options);
            ByteStream cleaned;
            StreamOpenBuffer(&cleaned);
            ASSERT_EQ(CleanBytes(&sw, page.second.data(), page.second.size(), &cleaned, kNoMemoryLimit, nullptr),
                      kCleanDone);
            std::string want((const char *)StreamMemoryData(&cleaned), StreamMemorySize(&cleaned));
            StreamClose(&cleaned);
            if (want == page.second)
                EXPECT_TRUE(out == doc) << page.first << " " << l.encoding;
            else
                EXPECT_TRUE(out == head + Encode(l, want) + tail) << page.first << " " << l.encoding;
        }
    }
}

// While a single-file page is cleaned, a network address that names one of
// its parts is local; one that no part's address begins with is decided at
// the '/' where they part (never past a '#', whose fragment is cut before
// the lookup), always with the answer reading it to its end would give.
TEST(MimeClean, AnAddressIsLocalWhenItNamesAPart)
{
    std::string doc = Doc(Part("Content-Type: text/html\r\nContent-Location: http://h/p.htm\r\n", "<p>") +
                          Part("Content-Type: image/png\r\nContent-Location: http://h/dir/a.png\r\n", "A") +
                          Part("Content-Type: image/png\r\nContent-Location: https://h/d%20x/b.png\r\n", "B"));
    MimeDocument d;
    ASSERT_EQ(Read(doc, &d), kMimeOk);
    struct Case {
        const char *address;
        AddressKind kind;
    } cases[] = {
        {"http://h/dir/a.png", kAddressOther},          {"HTTP://h/dir/a.png", kAddressOther},
        {" http://h/dir/a.png  ", kAddressOther},       {"http://h/dir/a.png#x/y/", kAddressOther},
        {"//h/dir/a.png", kAddressOther},               {"//h/d%20x/b.png", kAddressOther},
        {"http:\\\\h\\dir\\a.png", kAddressOther},      {"http://h/di&#x72;/a.png", kAddressOther},
        {"http://h/dir/a.png/", kAddressNetwork},       {"http://h/dir/b/a.png", kAddressNetwork},
        {"http://other/dir/a.png", kAddressNetwork},    {"https://h/dir/a.png", kAddressNetwork},
        {"http://h/dir/a.pn", kAddressNetwork},         {"http://h/dir/a.png?x", kAddressNetwork},
        {"//other/h/dir/a.png", kAddressNetwork},       {"http://h/dir/a.png x", kAddressNetwork},
    };
    SetArchiveParts(&d.addresses);
    for (const Case &c : cases)
        EXPECT_EQ(ReadAddress((const unsigned char *)c.address, strlen(c.address), kSyntaxOne, false), c.kind)
            << c.address;
    SetArchiveParts(nullptr);
    EXPECT_EQ(ReadAddress((const unsigned char *)"http://h/dir/a.png", 18, kSyntaxOne, false), kAddressNetwork);
    FreeMimeDocument(&d);
}

// Addresses joined as a browser joins them (what a style sheet part's
// relative references name).
TEST(MimeClean, AddressesJoinedAgainstALocation)
{
    struct Case {
        const char *ref, *base, *want;     // want null: not joined
    } cases[] = {
        {"a.png", "http://h/css/s.css", "http://h/css/a.png"},
        {"../img/a.png", "http://h/css/s.css", "http://h/img/a.png"},
        {"./x/../a.png?v=1", "http://h/s.css?q", "http://h/a.png?v=1"},
        {"/a.png", "http://h/css/s.css", "http://h/a.png"},
        {"//cdn/a.png", "https://h/s.css", "https://cdn/a.png"},
        {"a.png", "http://h", "http://h/a.png"},
        {"../../../a.png", "http://h/s.css", "http://h/a.png"},
        {"cid:x@y", "http://h/s.css", "cid:x@y"},
        {"a.png", "cid:x@y", nullptr},
        {"a.png", nullptr, nullptr},
    };
    for (const Case &c : cases) {
        char out[256];
        bool joined = JoinAddress(c.ref, strlen(c.ref), c.base, out, sizeof out);
        EXPECT_EQ(joined, c.want != nullptr) << c.ref << " against " << (c.base ? c.base : "nothing");
        if (joined && c.want) {
            EXPECT_STREQ(out, c.want) << c.ref;
        }
    }
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

// A view's watch: appends what it is told (an offset out of order makes
// the text differ).
static void WatchInto(void *context, int64_t offset, const unsigned char *p, size_t n)
{
    std::string *s = (std::string *)context;
    if (offset != (int64_t)s->size())
        s->append("<gap>");
    s->append((const char *)p, n);
}

// A comparison reads the decoded page a little at a time: a read of a few
// kilobytes in order decodes what it gives and no further, so a page that
// differs from its cleaned self early is not decoded to its end for it.
TEST(MimeView, AReadInOrderDecodesNoFurtherThanItGives)
{
    std::string page;
    for (unsigned i = 0; page.size() < 100000; i++)
        page += i % 3 ? "<a href=\"x\">\xC3\xA9</a>\r\n" : "plain words ";
    for (MimeLayout l : {MimeLayout{kMimeQuotedPrintable, true, 0}, MimeLayout{kMimeBase64, false, 76}}) {
        std::string body = Encode(l, page), watched, read;
        ByteStream in, view;
        StreamOpenMemory(&in, body.data(), body.size());
        MimeLayout viewLayout;
        MimeView *v = MimeOpenView(&view, &in, 0, (int64_t)body.size(), l.encoding, &viewLayout);
        ASSERT_TRUE(v);
        MimeWatchView(v, WatchInto, &watched);
        unsigned char buf[4096];
        for (long got; read.size() < 30000 && (got = MimeViewRead(v, (int64_t)read.size(), buf, sizeof buf)) > 0;) {
            read.append((const char *)buf, (size_t)got);
            ASSERT_EQ(watched.size(), read.size()) << l.encoding;
        }
        EXPECT_TRUE(read == page.substr(0, read.size()));
        EXPECT_EQ(MimeViewRead(v, (int64_t)page.size(), buf, sizeof buf), 0);
        StreamClose(&view);
        MimeCloseView(v);
    }
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
        // Decoded as it is read, then held whole (a body of one byte more
        // than it may hold is not).
        std::string watched;
        for (size_t hold : {body.size() - 1, body.size()}) {
            MimeView *v = MimeOpenView(&view, &in, 4, 4 + (int64_t)body.size(), l.encoding, &viewLayout);
            ASSERT_TRUE(v);
            // Told each byte once, in order, whichever cursor decodes it: the
            // seeks below read parts again from marks behind.
            watched.clear();
            MimeWatchView(v, WatchInto, &watched);
            ASSERT_EQ(MimeHoldView(v, hold), hold == body.size());
            EXPECT_EQ(MimeViewToldAll(v), hold == body.size());
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
            EXPECT_TRUE(watched == page) << l.encoding;
            StreamClose(&view);
            MimeCloseView(v);
        }

        // Seeks first, from far ahead back to the start, then the rest.
        MimeView *w = MimeOpenView(&view, &in, 4, 4 + (int64_t)body.size(), l.encoding, &viewLayout);
        ASSERT_TRUE(w);
        watched.clear();
        MimeWatchView(w, WatchInto, &watched);
        StreamOpenTwin(&twin, &view);
        for (int64_t at : {200001, 7, 131100}) {
            StreamSeek(&view, at);
            StreamSeek(&twin, at / 2);
            for (int i = 0; i < 70000; i++) {
                StreamGet(&view);
                StreamGet(&twin);
            }
        }
        EXPECT_TRUE(MimeFinishView(w));
        EXPECT_TRUE(watched == page) << l.encoding;
        StreamClose(&view);
        MimeCloseView(w);
    }

    std::string body = Encode(layouts[0], page);
    ByteStream in, view;
    StreamOpenReader(&in, FailFrom, &body);
    MimeLayout layout;
    MimeView *v = MimeOpenView(&view, &in, 0, (int64_t)body.size(), kMimeQuotedPrintable, &layout);
    ASSERT_TRUE(v);
    EXPECT_FALSE(MimeHoldView(v, body.size()));     // the failure is left to the reads
    while (StreamGet(&view) >= 0) {
    }
    EXPECT_TRUE(StreamReadFailed(&view));
    EXPECT_FALSE(MimeFinishView(v));
    StreamClose(&view);
    MimeCloseView(v);
}

}  // namespace
