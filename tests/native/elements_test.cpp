// The element removal pass, through the pass alone and through one whole
// command-line run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <string.h>
#include <algorithm>
#include <string>
#include "app/options.h"
#include "clean/passes.h"
#include "tests/native/support.h"

namespace {

const uint32_t kNone = 0;
const uint32_t kComments = kOptComments | kOptScripts;   // comments need both

std::string Elements(const std::string &input, uint32_t options)
{
    return RunPass(ElementRemovalPass, input, options);
}

void RunCases(const std::vector<PageCase> &cases)
{
    RunPageCases(ElementRemovalPass, cases);
}

TEST(ElementNames, PrefixesBlanksAndCase)
{
    RunCases({
        {"BASEFONT is examined as BASE and kept without HREF", "<BASEFONT SIZE=3>x", kOptInternet,
         "<BASEFONT SIZE=3>x"},
        {"BASEFONT with a remote HREF goes", "<basefont href=http://a>x", kOptInternet, "x"},
        {"STYLEX counts as STYLE", "a<STYLEX>b</style>c", kOptStyles, "ac"},
        {"FRAME without a blank is not examined", "<FRAME>x", kNone, "<FRAME>x"},
        {"remote FRAME goes while Frames is off", "<frame src=http://a>x", kNone, "x"},
        {"FRAMESET is never FRAME", "<FRAMESET src=http://a>x", kNone, "<FRAMESET src=http://a>x"},
        {"mixed case", "<ScRiPt>x</sCrIpT>y", kOptScripts, "y"},
        {"a '<' ending a name match starts no tag", "<S<script>x</script>", kOptScripts,
         "<S<script>x</script>"},
    });
}

TEST(ElementModes, EachElementUnderItsSwitches)
{
    RunCases({
        {"comments stay without Scripts", "a<!-- c -->b", kOptComments, "a<!-- c -->b"},
        {"comments go with both", "a<!-- c -->b", kComments, "ab"},
        {"Scripts: whole element and CR LF", "a<script src=x>1</script>\r\nb", kOptScripts, "ab"},
        {"Internet: inline script stays", "<script>1</script>", kOptInternet, "<script>1</script>"},
        {"Internet: remote script goes", "<script src=\"http://a\">1</script>b", kOptInternet, "b"},
        {"pictures: any IMG", "<img src=a.gif>x", kOptPictures, "x"},
        {"Internet: local IMG stays", "<img src=a.gif>x", kOptInternet, "<img src=a.gif>x"},
        {"Internet: remote IMG goes", "<img src=http://a>x", kOptInternet, "x"},
        {"Frames and Internet: local FRAME stays", "<frame src=a>", kOptInternet | kOptFrames,
         "<frame src=a>"},
        {"Frames without Internet: FRAME unexamined", "<frame src=http://a>", kOptFrames,
         "<frame src=http://a>"},
        {"Frames: IFRAME whole", "<iframe src=a>t</iframe>x", kOptFrames, "x"},
        {"Internet: remote IFRAME goes", "<iframe src=http://a>t</iframe>x", kOptInternet, "x"},
        {"Frames: NOFRAMES", "<noframes>n</noframes>x", kOptFrames, "x"},
        {"Frames: nested FRAMESET ends at the first closer",
         "<frameset><frameset></frameset>a</frameset>b", kOptFrames, "a</frameset>b"},
        {"Styles: stylesheet LINK", "<LINK REL=stylesheet HREF=a.css>x", kOptStyles, "x"},
        {"Styles: other LINK stays", "<link rel=icon href=http://a>", kOptStyles,
         "<link rel=icon href=http://a>"},
        {"Internet: local stylesheet stays", "<link rel=stylesheet href=a.css>", kOptInternet,
         "<link rel=stylesheet href=a.css>"},
        {"Internet: remote stylesheet goes", "<link rel=stylesheet href=http://a/s.css>x",
         kOptInternet, "x"},
        {"META charset stays", "<meta charset=utf-8>", kOptMeta, "<meta charset=utf-8>"},
        {"META keywords go", "<meta name=keywords content=a>x", kOptMeta, "x"},
        {"META content-style stays without Styles", "<meta http-equiv=Content-Style-Type>",
         kOptMeta, "<meta http-equiv=Content-Style-Type>"},
        {"META content-style goes with Styles", "<meta http-equiv=Content-Style-Type>x",
         kOptMeta | kOptStyles, "x"},
        {"modules: OBJECT", "<object data=a>p</object>x", kOptModules, "x"},
        {"Internet: local OBJECT stays", "<object data=a>p</object>", kOptInternet,
         "<object data=a>p</object>"},
        {"Internet: HTTP: anywhere in OBJECT", "<object data=a title='see HTTP://x'>p</object>x",
         kOptInternet, "x"},
        {"modules: EMBED", "<embed src=a>x", kOptModules, "x"},
        {"Internet: remote EMBED", "<embed src=http://a>x", kOptInternet, "x"},
        {"modules: APPLET", "<applet code=a>p</applet>x", kOptModules, "x"},
        {"modules and Internet: APPLET", "<applet code=a>p</applet>x", kOptModules | kOptInternet,
         "x"},
        {"Internet: local APPLET stays", "<applet code=a>p</applet>", kOptInternet,
         "<applet code=a>p</applet>"},
        {"Internet: remote APPLET goes", "<applet codebase=http://a>p</applet>x", kOptInternet, "x"},
        {"bad colours: BODY rewritten", "<body bgcolor=black text=white> x", kOptBadColors,
         "<BODY> x"},
    });
}

TEST(ElementModes, AnyNetworkAddressCounts)
{
    const uint32_t kI = kOptInternet;
    RunCases({
        {"https IMG", "<img src=https://a>x", kI, "x"},
        {"protocol-relative IMG", "<img src=\"//a/p.gif\">x", kI, "x"},
        {"entity-written scheme", "<img src=\"&#104;ttp://a\">x", kI, "x"},
        {"blanks and a line feed before '='", "<img src\n = \t'HTTPS://a'>x", kI, "x"},
        {"local IMG stays", "<img src=\"/a/p.gif\">x", kI, "<img src=\"/a/p.gif\">x"},
        {"remote SCRIPT", "<script src=//a>1</script>b", kI, "b"},
        {"remote IFRAME", "<iframe src=\"wss://a\">t</iframe>x", kI, "x"},
        {"remote BASE", "<base href=\"\\\\a\\\">x", kI, "x"},
        {"remote stylesheet", "<link rel=stylesheet href=https://a/s.css>x", kI, "x"},
        {"OBJECT with a network value", "<object data=\"//a/m.swf\">p</object>x", kI, "x"},
        {"APPLET with a network value", "<applet codebase=https://a>p</applet>x", kI, "x"},
        {"OBJECT with a local value stays", "<object data=a.swf>p</object>", kI,
         "<object data=a.swf>p</object>"},
        {"FRAME while Frames is off", "<frame src=\"https://a\">x", kNone, "x"},
    });
}

TEST(ElementModes, NetworkRefreshGoesWhateverMetatagsSays)
{
    const std::string refresh = "<meta http-equiv=\"Refresh\" content=\"0; URL=https://a/\">x";
    const std::string local = "<meta http-equiv=refresh content=\"5;url=b.htm\">x";
    const std::string charset = "<meta http-equiv=refresh content=\"0;url=//a/?charset=1\">x";
    const uint32_t kIM = kOptInternet | kOptMeta;
    RunCases({
        {"Internet and Metatags", refresh, kIM, "x"},
        {"naming a charset does not keep it", charset, kIM, "x"},
        {"a local one naming a charset stays", "<meta charset=x http-equiv=refresh content=\"1;a\">",
         kIM, "<meta charset=x http-equiv=refresh content=\"1;a\">"},
        {"without Internet it stays", charset, kOptMeta, charset},
        // With Metatags off the pass does not look at META tags, so that a
        // page reads as before; the attribute stage takes the refresh.
        {"Metatags off: not looked at here", refresh, kOptInternet, refresh},
        {"content alone is no refresh", "<meta name=x content=\"0;url=https://a\" charset=u>x", kIM,
         "<meta name=x content=\"0;url=https://a\" charset=u>x"},
    });
    EXPECT_EQ(RunPass(WholeClean, refresh, kOptInternet), "<meta http-equiv=\"Refresh\">x");
    EXPECT_EQ(RunPass(WholeClean, local, kOptInternet), local);
}

// Every deletion is counted once, with its blanks, under the switch that
// removed it: its own kind, or a network element when its own kind stays.
TEST(ElementCounts, ByKindAddingUpToWhatWentOut)
{
    struct CountCase {
        const char *name;
        std::string page;
        uint32_t options;
        RemovalKind kind;
        int64_t count, bytes;
    };
    const uint32_t kAll = 0x1FFF & ~(uint32_t)(kOptExtract | kOptExtractFirst | kOptCutTables);
    const CountCase cases[] = {
        {"comment and its CR LF", "a<!-- c -->\r\nb", kComments, kRemovedComments, 1, 12},
        {"script and a space", "a<script>x</script> b", kOptScripts, kRemovedScripts, 1, 19},
        {"remote script, scripts kept: a network element", "<script src=//a></script>b", kOptInternet,
         kRemovedNetworkElements, 1, 25},
        {"remote script, scripts removed: a script", "<script src=//a></script>b", kOptInternet | kOptScripts,
         kRemovedScripts, 1, 25},
        {"two pictures", "<img src=a><img src=b>", kOptPictures, kRemovedPictures, 2, 22},
        {"a network refresh is internet's", "<meta http-equiv=refresh content=\"0;url=//a\">",
         kOptInternet | kOptMeta, kRemovedNetworkElements, 1, 45},
        {"without internet it is meta's", "<meta http-equiv=refresh content=\"0;url=//a\">", kOptMeta,
         kRemovedMeta, 1, 45},
        {"nested objects", "<object><object></object></object>x", kOptModules, kRemovedModules, 1, 34},
        {"form to the end", "a<form>b", kOptForms, kRemovedForms, 1, 7},
        {"frameset", "<frameset></frameset>", kOptFrames, kRemovedFrames, 1, 21},
        {"BODY loses its attributes", "<body bgcolor=red>", kOptBadColors, kRemovedBodyAttributes, 1, 12},
        {"unfinished BODY gains a byte", "<body", kOptBadColors, kRemovedBodyAttributes, 1, -1},
        {"unfinished remote IMG, pictures kept", "a<img src=//x", kOptInternet, kRemovedNetworkElements, 1, 12},
        {"remote IMG, pictures removed", "<img src=//x> a", kOptInternet | kOptPictures, kRemovedPictures, 1, 14},
        {"remote EMBED, modules kept", "<embed src=http://x>", kOptInternet, kRemovedNetworkElements, 1, 20},
        {"restored form counts nothing", "<form><td></form>", kOptForms, kRemovedForms, 0, 0},
        {"stylesheet link", "<link rel=stylesheet href=a.css>", kAll, kRemovedLinks, 1, 32},
    };
    for (const CountCase &c : cases) {
        CleanSwitches sw = SwitchesFromWord(c.options);
        ByteStream in, out;
        StreamOpenMemory(&in, c.page.data(), c.page.size());
        StreamOpenBuffer(&out);
        RemovalTally t = {};
        ElementRemovalPass(&sw, &in, &out, &t);
        EXPECT_EQ(t.count[c.kind], c.count) << c.name;
        EXPECT_EQ(t.bytes[c.kind], c.bytes) << c.name;
        int64_t bytes = 0;
        for (int k = 0; k < kRemovalKindCount; k++)
            bytes += t.bytes[k];
        EXPECT_EQ(bytes, (int64_t)c.page.size() - (int64_t)StreamMemorySize(&out)) << c.name;
        StreamClose(&out);
    }
}

TEST(ElementEnds, CommentsAndClosingTexts)
{
    RunCases({
        {"<!-->", "a<!-->b", kComments, "ab"},
        {"<!--->", "a<!--->b", kComments, "ab"},
        {"dashes inside", "a<!-- x -- y -> z -->b", kComments, "ab"},
        {"not a comment opener", "a<!- x ->b", kComments, "a<!- x ->b"},
        {"</SCRIPT > is not a closer", "<script>a</SCRIPT >b</script>c", kOptScripts, "c"},
        {"<</STYLE> is not a closer", "<style>a<</STYLE>b</style>c", kOptStyles, "c"},
        {"a broken match is not retried", "<style></st</style>c</style>d", kOptStyles, "d"},
        {"nested OBJECT and one space", "<object a><object b>x</object>y</object>  z", kOptModules,
         " z"},
        {"'</ OBJECT' does not close", "<object></ OBJECT>x</object>y", kOptModules, "y"},
        {"several slashes and a longer name", "<object>a<//objectx b>c", kOptModules, "c"},
        {"unbalanced OBJECT", "a<object><object>x</object>", kOptModules, "a"},
    });
}

TEST(ElementForms, KeptOrDeletedByWhatComesFirst)
{
    RunCases({
        {"no table tag", "a<form action=x><input></form> b", kOptForms, "ab"},
        {"table cell keeps it as read", "a<Form x><table><tr><td>c</td></tr></table></form>b",
         kOptForms, "a<Form x><table><tr><td>c</td></tr></table></form>b"},
        {"TH and TBODY do not", "a<form><th>x</th><tbody></form>b", kOptForms, "ab"},
        {"</TR keeps it", "a<form>x</tr></form>b", kOptForms, "a<form>x</tr></form>b"},
        {"content still cleaned", "<form><script>s</script><td></form>", kOptForms | kOptScripts,
         "<form><td></form>"},
        {"unterminated", "a<form>xyz", kOptForms, "a"},
        {"'<<td' is no table tag", "<form><<td></form>x", kOptForms, "x"},
        {"a later form scans again", "<form><td></form><form>gone</form>x", kOptForms,
         "<form><td></form>x"},
        {"inner form inside '</F'", "<form>a</F<form>b<td>c</form>", kOptForms,
         "<form>a</F<form>b<td>c</form>"},
    });
}

// A page read through a reader that counts the bytes it gives and fails
// once they pass a budget, so that a pass reading too much stops at once.
struct CountedPage {
    std::string page;
    int64_t given;
    int64_t budget;
};

long ReadCounted(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    CountedPage *c = (CountedPage *)context;
    if (c->given > c->budget)
        return -1;
    if (offset >= (int64_t)c->page.size())
        return 0;
    size_t k = std::min(n, c->page.size() - (size_t)offset);
    memcpy(buf, c->page.data() + offset, k);
    c->given += (int64_t)k;
    return (long)k;
}

TEST(ElementForms, NestedStartsBeforeOneCellReadEachByteAtMostTwice)
{
    // Every "<FORM" scans on to the same cell; without the restore shortcut
    // each would read the rest of the page again.
    CountedPage c;
    for (int i = 0; i < 100000; i++)
        c.page += "<FORM";
    c.page += "<TD>x</FORM>";
    c.given = 0;
    c.budget = 2 * (int64_t)c.page.size() + kStreamBufferSize;
    ByteStream in, out;
    StreamOpenReader(&in, ReadCounted, &c);
    StreamOpenBuffer(&out);
    CleanSwitches sw = SwitchesFromWord(kOptForms);
    ElementRemovalPass(&sw, &in, &out);
    EXPECT_FALSE(StreamReadFailed(&in)) << "more than " << c.budget << " bytes read";
    EXPECT_EQ(std::string((const char *)StreamMemoryData(&out), StreamMemorySize(&out)), c.page);
    StreamClose(&out);
}

TEST(ElementAfterDeletion, WhiteSpaceRule)
{
    const std::string del = "<script></script>";
    RunCases({
        {"CR LF", del + "\r\nb", kOptScripts, "b"},
        {"lone LF", del + "\nb", kOptScripts, "\nb"},
        {"two spaces", del + "  b", kOptScripts, " b"},
        {"CR space", del + "\r b", kOptScripts, "b"},
        {"two CRs", del + "\r\rb", kOptScripts, "\rb"},
        {"tab", del + "\tb", kOptScripts, "\tb"},
        {"a tag right after", del + del + "\r\nb", kOptScripts, "b"},
        {"after a deleted tag", "<img src=http://a>\r\nb", kOptInternet, "b"},
        {"BODY drops nothing", "<body>\r\nb", kOptBadColors, "<BODY>\r\nb"},
    });
}

TEST(ElementLimits, LongTagsAndPageEnds)
{
    std::string head = "<img src=http://a ";
    std::string tag4095 = head + std::string(4095 - head.size() - 1, 'a') + ">";
    std::string tag4096 = head + std::string(4096 - head.size() - 1, 'a') + ">";
    std::string tagLong = head + std::string(6000, 'a') + ">";
    RunCases({
        {"4095 bytes: examined", tag4095 + "x", kOptInternet, "x"},
        {"4096 bytes: written once, not examined", tag4096 + "x", kOptInternet, tag4096 + "x"},
        {"longer: copied", tagLong + "x", kOptInternet, tagLong + "x"},
        {"lone '<' at the end", "a<", kNone, "a<"},
        {"'<FRA' at the end", "a<FRA", kNone, "a<FRA"},
        {"unfinished kept tag", "a<img src=x", kOptInternet, "a<img src=x"},
        {"unfinished remote tag", "a<img src=http:x", kOptInternet, "a"},
        {"unfinished 4095-byte tag", "a" + head + std::string(4095 - head.size(), 'a'),
         kOptInternet, "a" + head + std::string(4095 - head.size(), 'a')},
        {"unfinished remote FRAME", "a<frame src=\"http:x\"", kNone, "a"},
        {"unfinished META", "a<meta name=x", kOptMeta, "a"},
        {"unfinished META charset", "a<meta charset=x", kOptMeta, "a<meta charset=x"},
        {"unfinished OBJECT", "a<object data=x", kOptModules, "a"},
        {"unfinished BODY", "a<body text=red", kOptBadColors, "a<BODY>"},
        {"unfinished dropped tag", "a<img src=x", kOptPictures, "a"},
        {"inside a script", "a<script>never", kOptScripts, "a"},
        {"inside a comment", "a<!-- x", kComments, "a"},
    });
}

TEST(ElementBadInput, NeverAnError)
{
    RunCases({
        {"lone < and >", "a > b < c <<d> e<", kDefaultSwitches, "a > b < c <<d> e<"},
        {"high bytes after '<'", "<\xff\x80script>", kDefaultSwitches, "<\xff\x80script>"},
        {"NUL inside a deleted script", std::string("<SCRIPT\0>x</script>y", 20), kOptScripts, "y"},
        {"NUL inside a name", std::string("<scr\0ipt>", 9), kOptScripts,
         std::string("<scr\0ipt>", 9)},
        {"unbalanced FORM ends", "<form><form></form>x</form>y", kOptForms, "x</form>y"},
    });
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = (char)toupper((unsigned char)c);
    return text;
}

// With every switch off, pages without FRAME tags come through unchanged; no
// page ever grows.
TEST(ElementCorpus, RealPages)
{
    std::vector<std::string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    for (const std::string &file : files) {
        std::string page = ReadFile(file);
        std::string out = Elements(page, 0);
        if (Upper(page).find("<FRAME ") == std::string::npos)
            EXPECT_EQ(out, page) << file;
        else
            EXPECT_LE(out.size(), page.size()) << file;
        for (uint32_t options : {kDefaultSwitches, 0x1FFFu})
            EXPECT_LE(Elements(page, options).size(), page.size()) << file;
    }
}

TEST(ElementRun, CommandLineRunRemovesChosenElements)
{
    TempDir dir;
    mkdir(dir.File("config").c_str(), 0700);
    mkdir(dir.File("config/webtrim").c_str(), 0700);
    mkdir(dir.File("old").c_str(), 0700);
    // Comments and scripts only, originals into a folder.
    WriteFile(dir.File("config/webtrim/webtrim.ini"),
              "[Webtrim]\nw0=0x00000003\nw1=" + dir.File("old") + "\n");
    std::string page = "<html><body><!-- c -->\r\n<script>x</script>\r\n<p>t</p></body></html>";
    WriteFile(dir.File("page.htm"), page);
    ChildResult r = RunWebtrim({dir.File("page.htm")},
                               {"XDG_CONFIG_HOME=" + dir.File("config"), "HOME=" + dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.File("page.htm")), "<html><body><p>t</p></body></html>");
    EXPECT_EQ(ReadFile(dir.File("old/page.htm")), page);
}

}  // namespace
