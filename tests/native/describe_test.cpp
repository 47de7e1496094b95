// The main part in words for people: the line of each kind of outcome from
// a real clean of a small page, the escapes and caps of the texts read back
// from the page, the --any-layout hint and when it is given, and sizes.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "app/options.h"
#include "app/describe.h"
#include "app/result.h"
#include "clean/clean.h"
#include "tests/native/support.h"

namespace {

using std::string;

string Size(int64_t n)
{
    char s[kSizeTextMax];
    FormatSize(n, kSizeStyleHere, s, sizeof s);
    return s;
}

CleanReport Clean(const string &page, uint32_t word)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    CleanReport r;
    EXPECT_EQ(kCleanDone, CleanStream(&sw, &in, &out, &r));
    StreamClose(&out);
    return r;
}

string Line(const CleanReport &r)
{
    char line[kDescribeLineMax];
    size_t n = DescribeMainPart(&r, line, sizeof line);
    EXPECT_EQ(strlen(line), n);
    return line;
}

const string H = "<html><head><title>t</title></head><body>";
const string E = "</body></html>";
const string kNav = "<div class=nav>" + Links(15) + "</div>";
const uint32_t kAny = kOptExtract | kOptExtractFirst | kOptAnyLayout;

struct LineCase {
    const char *name;
    string page;
    uint32_t word;
    string line;        // "%K" and "%P" stand for the kept and page sizes
};

TEST(DescribeMainPart, EachOutcomeInOneLine)
{
    const string body = "<div id=\"article-body\" class=\"story\">";
    const string share = "<div class=share>Share this " + Links(15) + "</div>";
    const string cell = "<td>" + P(40) + "</td>";
    const LineCase cases[] = {
        {"extraction off", H + P(60) + E, kOptAnyLayout, "main part: not looked for"},
        {"all of it main text", H + P(60) + E, kAny, "main part: kept whole"},
        {"no word at all", H + "<img src=a.gif>" + E, kAny, "main part: kept whole"},
        {"every word in the part", H + "<div class=x>" + P(60) + "</div>\n\n" + E, kAny,
         "main part: kept whole"},
        {"the body's tables cut", H + P(60) + "<table><td>x</td></table>" + E, kAny | kOptCutTables,
         "main part: kept whole but for 1 table (25 bytes)"},
        {"the part, its headline and a cut, its first words out of the cut",
         H + "<h1>Bill</h1>" + kNav + body + share + P(60) + P(60) + "</div>" + E, kAny,
         "main part: <div id=\"article-body\" class=\"story\"> \"w0 w1 w2 w3 w4 w5 w6 w0\xE2\x80\xA6\" "
         "(%K of %P kept; headline added; 1 cut, " + Size((int64_t)share.size()) + ")"},
        {"two cuts and a table", H + kNav + "<div id=main>" + share + P(60) + "<table><td>t</td></table>" +
         P(60) + share + "</div>" + E, kAny | kOptCutTables,
         "main part: <div id=\"main\"> \"w0 w1 w2 w3 w4 w5 w6 w0\xE2\x80\xA6\" (%K of %P kept; 2 cuts, " +
         Size(2 * (int64_t)share.size()) + "; 1 table cut, 25 bytes)"},
        {"eight words and no more", H + kNav + "<div>" + Repeat("<p>a b c d e f g h</p>", 1) + "</div>" + E,
         kAny, "main part: <div> \"a b c d e f g h\" (%K of %P kept)"},
        {"the table rule", H + "<table><tr><td>" + Links(3) + "</td>" + cell + "</tr></table>" + E,
         kOptExtract | kOptExtractFirst, "main part: a table cell (%K of %P kept)"},
        {"the table rule keeping it all", H + P(60) + E, kOptExtract, "main part: kept whole"},
        {"a one-cell page the new table makes longer", H + "<table><td>a b c d e f</td></table>" + E,
         kOptExtract | kOptExtractFirst, "main part: kept whole"},
    };
    for (const LineCase &c : cases) {
        CleanReport r = Clean(c.page, c.word);
        string want = c.line;
        int64_t kept = r.part.bytesIn ? r.part.bytesKept : r.extractionIn - r.removed[kStageExtraction];
        int64_t of = r.part.bytesIn ? r.part.bytesIn : r.extractionIn;
        for (size_t at; (at = want.find("%K")) != string::npos;)
            want.replace(at, 2, Size(kept));
        for (size_t at; (at = want.find("%P")) != string::npos;)
            want.replace(at, 2, Size(of));
        EXPECT_EQ(want, Line(r)) << c.name;
        EXPECT_EQ(r.bytesIn, (int64_t)c.page.size()) << c.name;
        // --json's word says what the line says.
        const char *found = want.find("kept whole") != string::npos ? "whole"
                            : want.find("not looked for") != string::npos ? "off" : "cut";
        EXPECT_STREQ(found, MainPartFound(&r)) << c.name;
    }
}

// The chosen start tag and the first words, as the page has them: escaped,
// capped, references decoded.
TEST(DescribeMainPart, TextsReadBackFromThePage)
{
    const struct {
        const char *name;
        string tag;
        string text;
        string shown;       // the line from the label to the first words' end
    } cases[] = {
        {"name as written, id before class, values as they are", "<DIV class='a b'  ID=main data-x=\"1\">",
         "one two", "<DIV id=\"main\" class=\"a b\"> \"one two"},
        {"bytes below 0x20 and bad UTF-8 as \\xNN", "<div class=\"x\x02y\">",
         "caf\xc3\xa9 \x01" "bell \xff\xfe" "odd \xe2\x82 cut",
         "<div class=\"x\\x02y\"> \"caf\xc3\xa9 \\x01bell \\xFF\\xFEodd \\xE2\\x82 cut"},
        {"references decoded, unknown ones kept", "<div>",
         "&amp; &lt;b&gt; &#8217;s &#x41;&nbsp;B &bogus; &#0; &#xD800;",
         "<div> \"& <b> \xE2\x80\x99s A B &bogus; &#0; &#xD800;"},
        {"a long label cut to 60 bytes", "<section id=\"a-very-long-identifier-of-the-article-in-this-page\">",
         "one", "<section id=\"a-very-long-identifier-of-the-article-in-thi\xE2\x80\xA6 \"one"},
        {"60 bytes fit", "<div id=\"" + string(45, 'a') + "\x01\">", "one",
         "<div id=\"" + string(45, 'a') + "\\x01\"> \"one"},
        {"cut before an escape that does not fit", "<div id=\"" + string(46, 'a') + "\x01\">", "one",
         "<div id=\"" + string(46, 'a') + "\xE2\x80\xA6 \"one"},
        {"words across markup and blanks", "<div>", "<b>bold</b>\n\n <i>it</i>al<!-- c --> x<script>s</script>y",
         "<div> \"bold it al x y"},
    };
    for (const auto &c : cases) {
        string page = H + kNav + c.tag + "<p>" + c.text + "</p>" + P(80) + "</div>" + E;
        CleanReport r = Clean(page, kAny);
        ASSERT_EQ(kExtractAnyLayoutPart, r.extraction) << c.name;
        EXPECT_LE(strlen(r.part.label), (size_t)kAnyLayoutLabelMax) << c.name;
        string line = Line(r);
        EXPECT_EQ("main part: " + c.shown, line.substr(0, 11 + c.shown.size())) << c.name;
    }
}

TEST(DescribeMainPart, ShortBuffersCutTheLine)
{
    CleanReport r = Clean(H + kNav + "<div id=main>" + P(60) + "</div>" + E, kAny);
    char line[24];
    memset(line, 'x', sizeof line);
    EXPECT_EQ(19u, DescribeMainPart(&r, line, 20));
    EXPECT_STREQ("main part: <div id=", line);
    EXPECT_EQ('x', line[20]);
    EXPECT_EQ(0u, DescribeMainPart(&r, line, 0));
}

TEST(DescribeHint, OnlyWhereTheTableRuleKeepsThePageAndAnyLayoutWouldCut)
{
    const string article = kNav + "<div id=main>" + P(60) + P(60) + "</div>";
    const struct {
        const char *name;
        string page;
        uint32_t word;
        bool scan, hint;
    } cases[] = {
        {"no tables: the table rule keeps it all", H + article + E, kOptExtract, true, true},
        {"the default switches", H + article + E, kDefaultSwitches, true, true},
        {"all of it main text", H + P(60) + E, kOptExtract, true, false},
        {"the table rule cuts it", H + "<table><tr><td>" + Links(10) + "</td></tr></table><table><tr><td>" +
                                       P(100) + "</td></tr></table>" + E, kOptExtract, false, false},
        {"the extraction off", H + article + E, 0, false, false},
        {"any layout already", H + article + E, kAny, false, false},
    };
    for (const auto &c : cases) {
        CleanReport r = Clean(c.page, c.word);
        EXPECT_EQ(c.scan, WorthAnyLayoutScan(&r)) << c.name;
        ByteStream in;
        StreamOpenMemory(&in, c.page.data(), c.page.size());
        AnyLayoutResult scan;
        AnyLayoutScan(&in, &scan);
        EXPECT_EQ(c.hint, ShouldHintAnyLayout(&r, &scan)) << c.name;
        if (c.hint) {
            char line[kDescribeLineMax];
            DescribeAnyLayoutHint(&scan, line, sizeof line);
            EXPECT_EQ("hint: --any-layout would keep <div id=\"main\"> \"w0 w1 w2 w3 w4 w5 w6 w0\xE2\x80\xA6\" (" +
                          Size(scan.bytesKept) + " of " + Size((int64_t)c.page.size()) + ")",
                      string(line)) << c.name;
        }
    }
}

// One formatter, each front end's style of it.
TEST(FormatSize, EachStyleItsUnitsAndDecimals)
{
    const SizeStyle D = kSizeDecimal, X = kSizeExplorer;
    const struct {
        SizeStyle style;
        int64_t bytes;
        const char *text;
    } cases[] = {
        {D, 0, "0 bytes"}, {D, 1, "1 byte"}, {D, -1, "-1 byte"}, {D, 999, "999 bytes"},
        {D, -999, "-999 bytes"}, {D, 1000, "1.0 kB"}, {D, 1049, "1.0 kB"}, {D, 1050, "1.1 kB"},
        {D, 41249, "41.2 kB"}, {D, 99950, "100.0 kB"}, {D, 187600, "187.6 kB"}, {D, 999949, "999.9 kB"},
        {D, 999950, "1.0 MB"}, {D, -41249, "-41.2 kB"}, {D, 18000000, "18.0 MB"},
        {D, 1234567890, "1.2 GB"}, {D, 5000000000000, "5000.0 GB"},
        {X, 0, "0 KB"}, {X, 1, "1 KB"}, {X, 1023, "1 KB"}, {X, 1024, "1 KB"}, {X, 1025, "2 KB"},
        {X, 1536, "2 KB"}, {X, 1023 * 1024, "1,023 KB"}, {X, 30921589, "30,197 KB"},
        {X, 5000000000000, "4,882,812,500 KB"},
    };
    for (const auto &c : cases) {
        char s[kSizeTextMax];
        EXPECT_EQ(strlen(c.text), FormatSize(c.bytes, c.style, s, sizeof s)) << c.bytes;
        EXPECT_STREQ(c.text, s) << c.bytes;
    }
    char small[5];
    EXPECT_EQ(4u, FormatSize(41249, D, small, sizeof small));
    EXPECT_STREQ("41.2", small) << "cut short at the buffer's end";
}

// The record's names as --json, the library and the Python module give them.
TEST(RecordNames, EveryValueHasOneAndNoneBeyond)
{
    EXPECT_STREQ("already-clean", PageOutcomeName(kPageAlreadyClean));
    EXPECT_EQ(nullptr, PageOutcomeName(kPageFailed + 1));
    EXPECT_STREQ("folder", OriginalPlaceName(kOriginalInFolder));
    EXPECT_EQ(nullptr, OriginalPlaceName(-1));
    EXPECT_STREQ("any-layout-part", ExtractionName(kExtractAnyLayoutPart));
    EXPECT_EQ(nullptr, RemovalKindName(kRemovalKindCount));
}

}  // namespace
