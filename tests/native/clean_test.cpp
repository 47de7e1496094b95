// The whole clean through its one entry: what it reports, how it fails, and
// the options word read into named switches.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include "app/options.h"
#include "clean/clean.h"
#include "tests/native/support.h"

namespace {

using std::string;

TEST(Switches, WordBitsByName)
{
    // Words stored by earlier versions keep their meaning.
    EXPECT_EQ(kDefaultOptions, 0x100053BFu);  // bit 14, the companion folder, since 2.5
    CleanSwitches sw = SwitchesFromWord(kOptScripts | kOptPictures | kOptCutTables);
    EXPECT_TRUE(sw.scripts && sw.pictures && sw.cutTables);
    EXPECT_FALSE(sw.comments || sw.styles || sw.forms || sw.internet || sw.meta || sw.modules ||
                 sw.extract || sw.frames || sw.badColors || sw.extractFirst);
    CleanSwitches all = SwitchesFromWord(kSwitchMask);
    EXPECT_TRUE(all.comments && all.styles && all.forms && all.internet && all.meta &&
                all.modules && all.extract && all.frames && all.badColors && all.extractFirst);
}

const string kPage = "<html><head><script>x</script></head><body><table><td>menu</td></table>"
                     "<table><td><p style=\"a\">one two three four five six</td></table></body>";

struct ReportCase {
    const char *name;
    uint32_t word;
    int64_t removedElements, removedExtraction, removedAttributes;
    ExtractOutcome extraction;
};

TEST(CleanStream, ReportsWhatEachStageTookOut)
{
    const int64_t script = 18;      // "<script>x</script>"
    const int64_t style = 9;        // "style=\"a\""
    // "<table><td>menu</td></table><table>" and "</table></body>" less
    // "<table cellpadding=6><tr>", "</table>" and "</body></html>".
    const int64_t cut = 35 + 15 - 25 - 8 - 14;
    const ReportCase cases[] = {
        {"nothing on", 0, 0, 0, 0, kExtractOff},
        {"scripts", kOptScripts, script, 0, 0, kExtractOff},
        {"styles", kOptStyles, 0, 0, style, kExtractOff},
        // The head stays whole; the menu's table and the page's own table
        // go, the wrapper and closing tags come.
        {"extract first", kOptExtract | kOptExtractFirst | kOptScripts, script, cut, 0,
         kExtractWrappedCell},
        {"extract after", kOptExtract | kOptScripts, script, cut, 0, kExtractWrappedCell},
    };
    for (const ReportCase &c : cases) {
        CleanSwitches sw = SwitchesFromWord(c.word);
        ByteStream in, out;
        StreamOpenMemory(&in, kPage.data(), kPage.size());
        StreamOpenBuffer(&out);
        StreamWriteText(&out, "kept");      // the output is written from where it stands
        CleanReport r;
        EXPECT_EQ(CleanStream(&sw, &in, &out, &r), kCleanDone) << c.name;
        EXPECT_EQ(r.status, kCleanDone);
        EXPECT_EQ(r.bytesIn, (int64_t)kPage.size()) << c.name;
        EXPECT_EQ(r.bytesOut, (int64_t)StreamMemorySize(&out) - 4) << c.name;
        EXPECT_EQ(r.bytesIn - r.bytesOut, r.removed[kStageElements] + r.removed[kStageExtraction] +
                                              r.removed[kStageAttributes]) << c.name;
        EXPECT_EQ(r.removed[kStageAttributes], c.removedAttributes) << c.name;
        EXPECT_EQ(r.extraction, c.extraction) << c.name;
        EXPECT_EQ(r.removed[kStageElements], c.removedElements) << c.name;
        EXPECT_EQ(r.removed[kStageExtraction], c.removedExtraction) << c.name;
        EXPECT_EQ(ReadBack(&out).substr(0, 4), "kept");
        StreamClose(&out);
    }
}

// Under every word of the switches, the figures add up: the page's size
// before, each stage's share, what came out; and the extraction's input is
// the page, or what the element pass left of it.
TEST(CleanStream, FiguresAddUpUnderEverySwitchWord)
{
    const string page = "<html><head><title>t</title><script>x</script></head><body>"
                        "<h1 style=\"c\">Headline here</h1><div class=nav><a href=/a>a</a> <a href=/b>b</a>"
                        " <a href=/c>c</a> <a href=/d>d</a> <a href=/e>e</a> <a href=/f>f</a></div>"
                        "<div class=story><!-- c --><p>" + string(400, 'w') + " one two three four five six"
                        " seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen</p><table>"
                        "<td><img src=p.gif> seventeen</td></table></div></body></html>\n";
    for (uint32_t word = 0; word <= kPassSwitchMask; word++) {
        CleanSwitches sw = SwitchesFromWord(word);
        ByteStream in, out;
        StreamOpenMemory(&in, page.data(), page.size());
        StreamOpenBuffer(&out);
        CleanReport r;
        ASSERT_EQ(kCleanDone, CleanStream(&sw, &in, &out, &r)) << std::hex << word;
        ASSERT_EQ((int64_t)page.size(), r.bytesIn) << std::hex << word;
        ASSERT_EQ((int64_t)StreamMemorySize(&out), r.bytesOut) << std::hex << word;
        ASSERT_EQ(r.bytesIn - r.bytesOut, r.removed[kStageElements] + r.removed[kStageExtraction] +
                                              r.removed[kStageAttributes]) << std::hex << word;
        int64_t extractionIn = !sw.extract ? 0 : sw.extractFirst ? r.bytesIn : r.bytesIn - r.removed[kStageElements];
        ASSERT_EQ(extractionIn, r.extractionIn) << std::hex << word;
        if (sw.extract && sw.anyLayout) {
            ASSERT_EQ(r.extractionIn, r.part.bytesIn) << std::hex << word;
        }
        StreamClose(&out);
    }
}

// The removals by kind: each stage's kinds add up to what the stage took
// out, whatever the page and the switches.
void ExpectTallyAddsUp(const string &page, uint32_t word, const string &what)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    CleanReport r;
    ASSERT_EQ(CleanStream(&sw, &in, &out, &r), kCleanDone) << what;
    int64_t elements = 0, attributes = 0;
    for (int k = 0; k < kRemovalKindCount; k++) {
        EXPECT_GE(r.removals.bytes[k], k == kRemovedBodyAttributes ? -r.removals.count[k] : 0) << what;
        (IsElementKind(k) ? elements : attributes) += r.removals.bytes[k];
    }
    EXPECT_EQ(elements, r.removed[kStageElements]) << what << std::hex << " word " << word;
    EXPECT_EQ(attributes, r.removed[kStageAttributes]) << what << std::hex << " word " << word;
    EXPECT_EQ(elements + attributes + r.removed[kStageExtraction], r.bytesIn - r.bytesOut)
        << what << std::hex << " word " << word;
    // A kind whose switch is off took nothing: what went counts under the
    // switch that removed it.
    for (int i = 0; i < kElementKindCount; i++) {
        const ElementKind &e = kElementKinds[i];
        int kind = e.mask == kOptPictures ? kRemovedPictures : e.mask == kOptScripts ? kRemovedScripts
                   : e.mask == kOptModules ? kRemovedModules : -1;
        if (kind >= 0 && !(word & e.mask)) {
            EXPECT_EQ(0, r.removals.count[kind]) << what << " " << e.name << std::hex << " word " << word;
        }
    }
    StreamClose(&out);
}

TEST(CleanStream, RemovalsByKindAddUpOnGeneratedPages)
{
    const string inert = "<div onclick=x><a href=javascript:y>a</a><img src=https://x/p srcset=\"//x/q 2x\">"
                         "<p style=\"a:url(b);c:url(//d)\"><style>@import \"//e\";</style>"
                         "<meta http-equiv=refresh content=\"0;url=//f\"><iframe src=//g></iframe>";
    const string loads = "<table><td><script src=//h/s.js></script><img src=http://h/i.gif><link rel=stylesheet "
                         "href=//h/c.css><embed src=//h/e><object data=http://h/o></object><frame src=//h/f>"
                         "<iframe src=//h/i></iframe><meta http-equiv=refresh content=\"1;url=//h/\"></td></table>";
    // The small pages under every word of the switches; the large under some.
    for (const string &page : {kPage, inert, loads + Page(300)}) {
        for (uint32_t word = 0; word <= kPassSwitchMask; word++)
            ExpectTallyAddsUp(page, word, page.substr(0, 40));
    }
    for (const string &page : {Page(3000), Page(200000), inert + Page(70000) + inert}) {
        for (uint32_t word : {kDefaultSwitches, kSwitchMask, 0x3FFFu & ~kOptExtract, (uint32_t)kOptScripts,
                              (uint32_t)kOptInternet, kDefaultSwitches & ~kOptExtractFirst,
                              (uint32_t)(kOptStyles | kOptBadColors)})
            ExpectTallyAddsUp(page, word, page.substr(0, 40));
    }
}

TEST(CleanStream, RemovalsByKindAddUpOnTheCorpus)
{
    std::vector<string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    for (const string &f : files)
        for (uint32_t word : {kDefaultSwitches, (uint32_t)(kOptScripts | kOptInternet)})
            ExpectTallyAddsUp(ReadFile(f), word, f);
}

TEST(CleanStream, CountsWhatTheDefaultCleanRemoves)
{
    const string page = "<html><head><script>x</script><style>s</style></head><body onload=go()>"
                        "<table><td><a href=\"javascript:x\" onclick=y>one two three four five six</a>"
                        "<img src=\"https://t/p.gif\"><video poster=//t/v.jpg></video></td></table>";
    CleanSwitches sw = SwitchesFromWord(kDefaultSwitches);
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    CleanReport r;
    ASSERT_EQ(CleanStream(&sw, &in, &out, &r), kCleanDone);
    const struct {
        RemovalKind kind;
        int64_t count;
    } expected[] = {
        {kRemovedScripts, 1},   {kRemovedStyles, 1},     {kRemovedPictures, 0}, {kRemovedNetworkElements, 1},
        {kRemovedHandlers, 2},  {kRemovedScriptUrls, 1}, {kRemovedNetworkAttributes, 1},
        {kRemovedComments, 0},  {kRemovedCssReferences, 0},
    };
    for (const auto &e : expected)
        EXPECT_EQ(r.removals.count[e.kind], e.count) << kRemovalKinds[e.kind].name;
    string cleaned = ReadBack(&out);
    EXPECT_EQ(cleaned.find("onload"), string::npos) << cleaned;
    EXPECT_EQ(cleaned.find("javascript"), string::npos) << cleaned;
    EXPECT_EQ(cleaned.find("//t/"), string::npos) << cleaned;
    StreamClose(&out);
}

long FailAfterFirstBuffer(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    const string *page = (const string *)context;
    if (offset > 0)
        return -1;
    size_t k = std::min(n, page->size());
    memcpy(buf, page->data(), k);
    return (long)k;
}

TEST(CleanStream, FailuresInTheOrderARunReportsThem)
{
    string big = kPage + string(200000, 'x');
    // The input breaks off: whatever else fails, that is what counts.
    for (uint32_t word : {kDefaultSwitches, kDefaultSwitches & ~kOptExtractFirst, 0u}) {
        CleanSwitches sw = SwitchesFromWord(word);
        ByteStream in, out;
        StreamOpenReader(&in, FailAfterFirstBuffer, &big);
        StreamOpenMemory(&out, "", 0);      // refuses every write
        EXPECT_EQ(CleanStream(&sw, &in, &out, nullptr), kCleanReadFailed) << std::hex << word;
    }
    // An output that refuses writes.
    CleanSwitches sw = SwitchesFromWord(kDefaultSwitches);
    ByteStream in, out;
    StreamOpenMemory(&in, big.data(), big.size());
    StreamOpenMemory(&out, "", 0);
    EXPECT_EQ(CleanStream(&sw, &in, &out, nullptr), kCleanWriteFailed);
    // No temporary file where the extraction needs one.
    TempDir dir;
    const char *old = getenv("TMPDIR");
    string saved = old ? old : "";
    setenv("TMPDIR", dir.File("nowhere").c_str(), 1);
    sw = SwitchesFromWord(kDefaultSwitches & ~kOptExtractFirst);
    StreamOpenMemory(&in, big.data(), big.size());
    StreamOpenBuffer(&out);
    CleanReport r;
    EXPECT_EQ(CleanStream(&sw, &in, &out, &r), kCleanTempFailed);
    EXPECT_EQ(r.status, kCleanTempFailed);
    StreamClose(&out);
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

}  // namespace
