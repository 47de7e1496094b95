// The main-part extraction over small pages that pin each rule, bad input,
// a page past 2 GiB, whole runs and the corpus.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include "app/options.h"
#include "app/run.h"
#include "clean/passes.h"
#include "tests/native/support.h"

namespace {

using std::string;

const string W = "<table cellpadding=6><tr>";   // wrapper of a lone cell
const string P = "</body></html>";
const string E = "</table>" + P;

const uint32_t kX = kOptExtract, kXC = kOptExtract | kOptCutTables;

string Extract(const string &page, bool cut = false, size_t memoryLimit = kNoMemoryLimit)
{
    CleanSwitches sw = SwitchesFromWord(cut ? kXC : kX);
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    ExtractMainPart(&sw, &in, &out, memoryLimit);
    string result = ReadBack(&out);
    StreamClose(&out);
    return result;
}

const std::vector<PageCase> kRecognition = {
    {"mixed case", "<HTML><Body><TaBlE><tR><Td>one two</tD></TABLE></BODY>", kX,
     "<HTML><Body>" + W + "<Td>one two</tD>" + E},
    {"TDX is a TD", "<body><table><tdx>one two</tdx></table></body>", kX,
     "<body>" + W + "<tdx>one two</tdx>" + E},
    {"TABLEAU is a TABLE", "<body><tableau><td>one</td></tableau></body>", kX,
     "<body>" + W + "<td>one</td>" + E},
    {"space after <", "<body><table><td>a</td>< td>b c d</td></table></body>", kX,
     "<body>" + W + "<td>a</td>" + E},
    {"space after </", "<body><table><td>a b</ td>c d<td></td></table></body>", kX,
     "<body>" + W + "<td>a b</ td>c d" + E},
    {"> after partial name swallows the next tag",
     "<body><table><td>a</td><tabl>x<td>b c</td></table></body>", kX,
     "<body>" + W + "<td>a</td>" + E},
    {"B tag ends at its own >", "<body><table><td>a<b>b</b> c d e</td></table>"
     "<table><td>z</td></table></body>", kX,
     "<body>" + W + "<td>a<b>b</b> c d e</td>" + E},
    {"> in a quoted TD attribute ends it", "<body><table><td title=\"x>p q r\">a b c</td></table>"
     "<table><td>z</td></table></body>", kX,
     "<body>" + W + "<td title=\"x>p q r\">a b c</td>" + E},
    {"DOCTYPE is skipped", "<!DOCTYPE html><body><table><td>one</td></table></body>", kX,
     "<!DOCTYPE html><body>" + W + "<td>one</td>" + E},
    {"TD tags in a comment", "<body><table><td>a</td><!-- <td>b c d</td> --></table></body>",
     kX, "<body>" + W + "<td>a</td>" + E},
    {"<!--> opens a comment", "<body><table><td>a</td><!--><td>b c</td>--></table></body>", kX,
     "<body>" + W + "<td>a</td>" + E},
};

TEST(MainPartScan, TagRecognition)
{
    RunPageCases(ExtractionStage, kRecognition);
}

// The words counted in a cell holding `content`, up to 5: the cell stands
// beside a one-word cell of another table, which is selected too (and the
// page left unchanged, or that cell chosen) unless the first cell has five
// words or more. Leading filler words find the count.
int WordsIn(const string &content)
{
    for (int k = 0; k <= 5; k++) {
        string page = "<body><table><td>" + Repeat("w ", k) + content +
                      "</td></table><table><td>z</td></table></body>";
        string out = Extract(page);
        if (out != page && out.find("<td>z") == string::npos)
            return 5 - k;
    }
    return -1;
}

TEST(MainPartScan, WordCounting)
{
    EXPECT_EQ(1, WordsIn("&nbsp;"));
    EXPECT_EQ(0, WordsIn(" \r\n\t "));
    EXPECT_EQ(2, WordsIn("bold<b>face</b>"));
    EXPECT_EQ(3, WordsIn("a,b . c"));
    EXPECT_EQ(2, WordsIn("one<!-- two three -->four"));
    EXPECT_EQ(2, WordsIn("x<tr>y"));
    EXPECT_EQ(2, WordsIn("a<table><td></td></table> b"));   // resumes after a nested table
    EXPECT_EQ(4, WordsIn("<script>var x = 1;</script>"));
    EXPECT_EQ(1, WordsIn(string("\xa0\x80", 2)));
    EXPECT_EQ(5, WordsIn("a b c d e f g"));
}

TEST(MainPartScan, WordsOutsideCells)
{
    // Text between TABLE and TD is not counted.
    EXPECT_EQ("<body>" + W + "<td>y</td>" + E,
              Extract("<body><table>q r s t u v<td>y</td></table></body>"));
    // Without BODY, text outside tables is not counted; with it, the body
    // cell counts it and wins.
    string bare = "a b c d e f g<table><td>x</td></table>";
    EXPECT_EQ("a b c d e f g" + W + "<td>x</td>" + E, Extract(bare));
    EXPECT_EQ("<body>" + bare + P, Extract("<body>" + bare));
}

const std::vector<PageCase> kOutcomes = {
    {"M = 4 selects every cell with a word", "<body><table><td>a b c d</td><td>e</td></table></body>",
     kX, "<body><table><td>a b c d</td><td>e</td></table>" + P},
    {"M = 5 leaves a one-word cell out", "<body><table><td>a b c d e</td><td>f</td></table></body>",
     kX, "<body>" + W + "<td>a b c d e</td>" + E},
    {"tie in one table", "<body><table><td>a b</td><td>c d</td></table></body>", kX,
     "<body><table><td>a b</td><td>c d</td></table>" + P},
    {"tie across tables", "<body><table><td>a b</td></table><table><td>c d</td></table></body>",
     kX, ""},
    {"body cell beside a table cell", "<body>a b c<table><td>d e f</td></table></body>", kX, ""},
    {"body cell wins", "<body>a b c d e f<table><td>x</td></table> g</body>", kX,
     "<body>a b c d e f<table><td>x</td></table> g" + P},
    {"body cell wins, tables cut", "<body>a b c d e f<table><td>x</td></table> g</body>", kXC,
     "<body>a b c d e f g" + P},
    {"all cells empty", "<body><table><td> </td></table></body>", kX, ""},
    {"neither BODY nor TABLE", "<p>just some text</p>", kX, ""},
    {"</BODY before <BODY", "</body><body>one two</body>", kX, ""},
    // A table before BODY: its lone cell is wrapped, the head stops before
    // the table's '<', and a lone body cell stands bare.
    {"first TABLE before BODY, table cell",
     "<html><table><td>a b c</td></table><body></body></html>", kX,
     "<html>" + W + "<td>a b c</td>" + E},
    {"first TABLE before BODY, body cell",
     "<html><table><td></td></table><body>a b</body></html>", kX, "<html>a b" + P},
};

TEST(MainPartOutcome, Rules)
{
    RunPageCases(ExtractionStage, kOutcomes);
}

const string kNested = "<body><table><td>a b c<table><td>x</td></table> d e</td></table></body>";
const string kAdjacent = "<body><table><td>a b c d e<table><td>x</td></table>"
                         "<table><td>y</td></table> f</td></table></body>";
const string kWhole = "<body><table><td>a b</td><td>c d<table><td></td></table></td></table></body>";

const std::vector<PageCase> kWriting = {
    {"wrapped cell", kNested, kX,
     "<body>" + W + "<td>a b c<table><td>x</td></table> d e</td>" + E},
    {"wrapped cell, cut", kNested, kXC, "<body>" + W + "<td>a b c d e</td>" + E},
    // The second would go on the next clean: it is inside the part too.
    {"adjacent nested tables are all cut", kAdjacent, kXC, "<body>" + W + "<td>a b c d e f</td>" + E},
    {"whole table", kWhole, kX,
     "<body><table><td>a b</td><td>c d<table><td></td></table></td></table>" + P},
    {"whole table, cut", kWhole, kXC, "<body><table><td>a b</td><td>c d</td></table>" + P},
    {"nested table ending at the part's last byte stays",
     "<body><table><td>a b c d e<table><td>x</td></table></table></body>", kXC,
     "<body>" + W + "<td>a b c d e<table><td>x</td></table>" + E},
    {"body as whole table", "<body><td>a b</td><td>c d</td></body>", kX,
     "<body><td>a b</td><td>c d</td>" + P},
    {"body as whole table, never closed", "<body><td>a b</td><td>c d</td>", kX,
     "<body><td>a b</td><td>c d</td>" + P},
};

TEST(MainPartWriting, EachOutcome)
{
    RunPageCases(ExtractionStage, kWriting);
}

// Pages on which an extractor easily loses text or repeats bytes: open
// ends, cells without "</TD", stray closing tags, long comment dashes.
const std::vector<PageCase> kMends = {
    // A part that no tag closed ends the output where the page ends, without
    // the closing tags (on the output cleaned again they would not close it
    // either, and would come once more), unless they close it: the body's
    // own part at BODY depth 1, which ends before an unfinished tag.
    {"cell never closed ends at the last byte", "<body><table><td>a b c", kX, "<body>" + W + "<td>a b c"},
    {"body never closed keeps the last byte", "<html><body>one two", kX,
     "<html><body>one two" + P},
    {"body never closed ends before an unfinished tag", "<html><body>one two<fr", kX,
     "<html><body>one two" + P},
    {"body never closed, unfinished comment", "<html><body>one two<!-- x", kX,
     "<html><body>one two" + P},
    {"two bodies never closed: no closing tags", "<body>one<body>two", kX, "<body>one<body>two"},
    {"never-closed nested table is not cut", "<body><table><td>a b c d e f<table><td>x", kXC,
     "<body>" + W + "<td>a b c d e f<table>" + E},
    {"last cell without </TD ends with its table",
     "<body><table><tr><td><table><tr><td>menu</table>one two three four five six</table></body>",
     kX, "<body>" + W + "<td><table><tr><td>menu</table>one two three four five six" + E},
    {"last cell without </TD, nested table cut",
     "<body><table><tr><td><table><tr><td>menu</table>one two three four five six</table></body>",
     kXC, "<body>" + W + "<td>one two three four five six" + E},
    {"body text after a table, no </BODY", "<body><table><td>x</td></table>one two three four five six",
     kX, "<body><table><td>x</td></table>one two three four five six" + P},
    {"stray </TD in the body", "<body>one two</td> three four five six</body>", kX,
     "<body>one two</td> three four five six" + P},
    {"stray </TABLE in the body",
     "<body>one</table><table><td>a b</td></table> c d e f g h i j k</body>", kX,
     "<body>one</table><table><td>a b</td></table> c d e f g h i j k" + P},
    {"comment closed by --->",
     "<body><table><td>menu<!-- nav ---></td></table><table><td>one two three four five six</td>"
     "</table></body>", kX, "<body>" + W + "<td>one two three four five six</td>" + E},
    {"comment closed by <!------>",
     "<body><table><td>menu<!------></td></table><table><td>one two three four five six</td>"
     "</table></body>", kX, "<body>" + W + "<td>one two three four five six</td>" + E},
};

TEST(MainPartMends, Pages)
{
    RunPageCases(ExtractionStage, kMends);
}

// Before the element pass, the scan passes over the SCRIPT and STYLE
// elements that pass deletes, recognised as it recognises them: their text
// is no words and their tags none of ours. Judged otherwise (scripts or
// styles kept, or the extraction after the element pass), they count.
const uint32_t kXF = kOptExtract | kOptExtractFirst | kOptScripts | kOptStyles;
const string kScriptMenu = "<body><table><td>x<script>w w w w w w w w w w</script></td></table>"
                           "<table><td>a b c d e f</td></table></body>";
const string kStyleMenu = "<body><table><td>x<STYLE>p p p p p p p p p p</STYLE></td></table>"
                          "<table><td>a b c d e f</td></table></body>";
const string kWrittenTable = "<body><table><td>a b c d e f</td></table><script>document.write("
                             "'<table><td>w w w w w w w w</td></table>')</script></body>";
const uint32_t kXI = kOptExtract | kOptExtractFirst | kOptInternet;
const string kScriptInComment = "<body><table><td>a b c d e f</td></table><!-- <script>x</scrip> -->"
                                "<table><td>w w w w w w w w</td></table></script></body>";
const std::vector<PageCase> kBeforeElements = {
    {"script words are none", kScriptMenu, kXF, "<body>" + W + "<td>a b c d e f</td>" + E},
    {"style words are none", kStyleMenu, kXF, "<body>" + W + "<td>a b c d e f</td>" + E},
    {"tags in a script are none", kWrittenTable, kXF, "<body>" + W + "<td>a b c d e f</td>" + E},
    {"scripts kept: their words count", kScriptMenu, kXF & ~kOptScripts, ""},
    {"styles kept: their words count", kStyleMenu, kXF & ~kOptStyles, ""},
    {"extracted last: the scripts are gone already", kScriptMenu, kXF & ~kOptExtractFirst, ""},
    {"the name as a prefix", "<body><table><td>x<scripted>w w w w w w w w w w</script></td></table>"
     "<table><td>a b c d e f</td></table></body>", kXF, "<body>" + W + "<td>a b c d e f</td>" + E},
    {"a '<' breaking the closing text is passed",
     "<body><table><td>a b c d e f</td></table><script>if(a<</script>"
     "<table><td>w w w w w w w w</td></table></script></body>", kXF,
     "<body>" + W + "<td>a b c d e f</td>" + E},
    {"<S> and <SPAN> end at their own >",
     "<body><table><td>a<s>b</s> <span>c</span> d e</td></table><table><td>z</td></table></body>", kXF,
     "<body>" + W + "<td>a<s>b</s> <span>c</span> d e</td>" + E},
    {"</SCRIPT> closes nothing outside a script",
     "<body><table><td>a</script> b c d e</td></table><table><td>z</td></table></body>", kXF,
     "<body>" + W + "<td>a</script> b c d e</td>" + E},
    {"body ends before a script never closed", "<html><body>one two<script>x y z", kXF,
     "<html><body>one two" + P},
    // Where the element pass keeps comments it deletes a script in one up
    // to its closing text, past the comment's end.
    {"a script in a kept comment runs past it", kScriptInComment, kXF,
     "<body>" + W + "<td>a b c d e f</td>" + E},
    {"comments deleted: the comment ends first", kScriptInComment, kXF | kOptComments, ""},
    {"a broken name in a comment leaves it", "<body><table><td>a b c d e f</td></table><!-- <s-->"
     "<table><td>w w w w w w w w</td></table></body>", kXF, ""},
    // Scripts kept, Internet on: a script goes when it loads from the network.
    {"a remote script's words are none", "<body><table><td>x<script src=\"https://e.example/a.js\">"
     "w w w w w w w w w w</script></td></table><table><td>a b c d e f</td></table></body>",
     kXI, "<body>" + W + "<td>a b c d e f</td>" + E},
    {"a local script's words count", "<body><table><td>x<script src=\"a.js\">w w w w w w w w w w"
     "</script></td></table><table><td>a b c d e f</td></table></body>", kXI, ""},
};

TEST(MainPartScan, BeforeTheElementPass)
{
    RunPageCases(ExtractionStage, kBeforeElements);
}

TEST(MainPartMends, NoMemoryForTheOutlineCopiesThePage)
{
    string page = "<body>" + Repeat("<table><td></td></table>", 20000) +
                  "<table><td>one two three</td></table></body>";
    EXPECT_EQ("<body>" + W + "<td>one two three</td>" + E, Extract(page));
    EXPECT_EQ(page, Extract(page, false, 100000));
    EXPECT_EQ(page, Extract(page, true, 0));
}

TEST(MainPartMends, PositionsPast2GiB)
{
    // "<body>", a hole of zero bytes (one long word of the body), then the
    // main cell beyond 2 GiB: a file, not memory.
    const int64_t far = (int64_t)1 << 31 | 12345;
    const string tail = "<table><td>one two three four five six</td></table></body>";
    ByteStream *in = MakeTempFile("<body>");
    StreamSeek(in, far);
    StreamWriteText(in, tail.c_str());
    StreamRewind(in);
    ByteStream *out = MakeTempFile();
    CleanSwitches sw = SwitchesFromWord(kX);
    EXPECT_EQ(ExtractMainPart(&sw, in, out, kNoMemoryLimit), kExtractWrappedCell);
    EXPECT_EQ("<body>" + W + "<td>one two three four five six</td>" + E, ReadBack(out));
    CloseStream(in);
    CloseStream(out);
}

TEST(MainPartStage, ExtractOffCopiesFromWhereTheInputStands)
{
    const char raw[] = "<body><table><td>a\0\xff b</td></table></body>";
    string page(raw, sizeof raw - 1);
    EXPECT_EQ(page, RunPass(ExtractionStage, page, kOptCutTables));
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    StreamGet(&in);
    CleanSwitches sw = SwitchesFromWord(0);
    EXPECT_EQ(ExtractMainPart(&sw, &in, &out, kNoMemoryLimit), kExtractOff);
    EXPECT_EQ(page.substr(1), ReadBack(&out));
    StreamClose(&out);
}

TEST(MainPartStage, EmptyInput)
{
    EXPECT_EQ("", Extract(""));
    EXPECT_EQ("", Extract("", true));
}

// Whether `out` is the page itself, or its head, the fixed tags and pieces
// of the page in their order.
bool MadeOfThePage(const string &page, string out)
{
    if (out == page)
        return true;
    if (out.size() < P.size() || out.compare(out.size() - P.size(), P.size(), P) != 0)
        return false;
    out.resize(out.size() - P.size());
    size_t w = out.find(W);
    if (w != string::npos && page.compare(0, w, out, 0, w) == 0) {
        if (out.size() < 8 || out.compare(out.size() - 8, 8, "</table>") != 0)
            return false;
        out = out.substr(0, w) + out.substr(w + W.size(), out.size() - 8 - w - W.size());
    }
    size_t at = 0;
    for (char c : out) {
        at = page.find(c, at);
        if (at == string::npos)
            return false;
        at++;
    }
    return true;
}

TEST(MainPartBadInput, DeepNestingAndManyCellsInLittleMemory)
{
    const string main = "one two three four five six";
    const int depth = 100000;
    string deep = "<body>" + Repeat("<table><tr><td>", depth) + main +
                  Repeat("</td></tr></table>", depth) + "</body>";
    // About 64 bytes for every table and cell.
    size_t limit = (size_t)(2 * depth) * 80;
    EXPECT_EQ("<body>" + W + "<td>" + main + "</td>" + E, Extract(deep, true, limit));
    string unclosed = "<body>" + Repeat("<table><td>a ", depth);
    EXPECT_EQ(unclosed, Extract(unclosed, true));

    const int cells = 1000000;
    string many = "<body><table>" + Repeat("<td>x", cells) + "<td>" + main + "</td></table></body>";
    EXPECT_EQ("<body>" + W + "<td>" + main + "</td>" + E, Extract(many, false, (size_t)cells * 64));
}

TEST(MainPartBadInput, StrayAndUnbalancedTags)
{
    const char *pages[] = {
        "</table></table><td>a</td></td></body></body><body>x",
        "<body></body></body><body><table></body></table></table><td>a b</td>",
        "<table><body><table><td>a</body><td>b</table></table></body></table>",
        "<td>a</td><tr><td>b</td></tr>",
    };
    for (const char *p : pages) {
        EXPECT_TRUE(MadeOfThePage(p, Extract(p, true))) << p;
        EXPECT_TRUE(MadeOfThePage(p, Extract(p, false))) << p;
    }
}

TEST(MainPartCorpus, OutputIsThePageOrPiecesOfIt)
{
    std::vector<string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    int cut = 0;
    for (const string &f : files) {
        string page = ReadFile(f);
        for (bool cutTables : {false, true}) {
            string out = Extract(page, cutTables);
            EXPECT_TRUE(MadeOfThePage(page, out)) << f;
            cut += out != page;
        }
    }
    EXPECT_GT(cut, 0);
}

TEST(MainPartRun, BothStageOrders)
{
    const string page = "<html><body><table><td>menu</td></table>"
                        "<table><td><p>one two three four five six</td></table></body></html>";
    for (uint32_t first : {0u, (uint32_t)kOptExtractFirst}) {
        TempDir dir;
        string path = dir.File("page.htm");
        WriteFile(path, page);
        mkdir(dir.File("old").c_str(), 0700);
        const string old = dir.File("old");
        ClearMessages();
        EXPECT_TRUE(RunInPlace(path, kOptExtract | first, old));
        EXPECT_EQ("<html><body>" + W + "<td><p>one two three four five six</td>" + E, ReadFile(path));
        EXPECT_EQ(page, ReadFile(dir.File("old/page.htm")));
        WriteFile(path, page);
        EXPECT_TRUE(RunInPlace(path, first, old));
        EXPECT_EQ(page, ReadFile(path));
        EXPECT_TRUE(Messages.empty());
    }
}

}  // namespace
