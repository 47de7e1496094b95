// The clean from memory to memory (CleanBytes): it writes and reports what
// CleanStream does under every switch word, and holds to its memory limit.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "clean/clean.h"
#include "app/options.h"
#include "tests/native/support.h"

namespace {

using std::string;

// Pages built from pieces that reach every stage's states: table layouts
// for the table rule, prose in DIV and ARTICLE for the rule for any layout,
// forms around tables (the element pass goes back), frames, BODY attributes,
// over-long tags, and pages cut off inside a tag.
string MixedPage(unsigned seed, size_t size)
{
    static const char *const kPieces[] = {
        "<table><tr><td>one two three</td><td>four <b style=\"c:d\">five</b></td></tr></table>",
        "<form action=x><input></form> ", "<form><table><tr><td>kept form</td></tr></table></form>",
        "<script>var a = '<td>';</script>\r\n", "<style>p{color:red}</style>", "<!-- note -->",
        "<img src=\"http://x/a.gif\"> ", "<td background=\"http:b.gif\">cell words here</td>",
        "<p style=\"margin:0\">text text text</p>", "<object><object>x</object></object> ",
        "<meta name=keywords content=x>", "<div style=\"background: url(x.gif)\">d</div>",
        "<div class=\"article-body\"><p>The council met on Tuesday and voted to keep the old "
        "bridge open, which pleased the people who cross it every day.</p></div>",
        "<div class=nav><a href=a>Home</a> <a href=b>News</a></div>",
        "<article><h1>Title</h1><p>A long sentence of running prose, with commas, and more "
        "words than any menu would have.</p></article>",
        "<frame src=http:f.htm><iframe src=\"http:i\">x</iframe>", "<body bgcolor=black>",
        "<table><tr><td><table><tr><td>inner cell text</td></tr></table></td></tr></table>",
        "<base href=\"http://x/\"><link rel=stylesheet href=a.css>", "<a <b>", "</td></tr>",
    };
    const size_t count = sizeof kPieces / sizeof *kPieces;
    string page = seed % 3 ? "<html><head><title>t</title></head><body>" : "<body>";
    unsigned x = seed * 2654435761u + 7;
    while (page.size() < size) {
        x = x * 1103515245u + 12345u;
        page += kPieces[(x >> 16) % count];
        if (x % 5 == 0)
            page += string(x % 7 ? 30 : 4200, 'w');     // a tag of 4096 bytes or more
    }
    if (seed % 2)
        page.resize(size - size / 3);                   // cut off anywhere, maybe in a tag
    else
        page += "</body></html>";
    return page;
}

struct Cleaned {
    CleanStatus status;
    string page;
    CleanReport report;
};

Cleaned ByStream(const string &page, uint32_t word)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    Cleaned c;
    c.status = CleanStream(&sw, &in, &out, &c.report);
    c.page = ReadBack(&out);
    StreamClose(&out);
    return c;
}

Cleaned ByBytes(const string &page, uint32_t word, size_t limit = kNoMemoryLimit)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream out;
    StreamOpenBuffer(&out);
    Cleaned c;
    c.status = CleanBytes(&sw, page.data(), page.size(), &out, limit, &c.report);
    c.page = ReadBack(&out);
    StreamClose(&out);
    return c;
}

// What the two report must agree wherever both finished.
void ExpectSameReport(const CleanReport &a, const CleanReport &b, const string &where)
{
    EXPECT_EQ(a.bytesIn, b.bytesIn) << where;
    EXPECT_EQ(a.bytesOut, b.bytesOut) << where;
    for (int s = 0; s < kStageCount; s++)
        EXPECT_EQ(a.removed[s], b.removed[s]) << where << " stage " << s;
    EXPECT_EQ(a.extraction, b.extraction) << where;
    EXPECT_EQ(a.part.outcome, b.part.outcome) << where;
    EXPECT_EQ(a.part.start, b.part.start) << where;
    EXPECT_EQ(a.part.end, b.part.end) << where;
    EXPECT_EQ(memcmp(&a.removals, &b.removals, sizeof a.removals), 0) << where;
}

void ExpectSame(const string &page, uint32_t word, const string &name)
{
    Cleaned s = ByStream(page, word), b = ByBytes(page, word);
    string where = name + " word " + std::to_string(word);
    ASSERT_EQ(s.status, kCleanDone) << where;
    ASSERT_EQ(b.status, kCleanDone) << where;
    ASSERT_EQ(s.page, b.page) << where;
    ExpectSameReport(s.report, b.report, where);
    // Every stage reads the page to its end, the any-layout extraction too.
    EXPECT_EQ(b.report.bytesIn, (int64_t)page.size()) << where;
}

TEST(CleanBytes, WritesWhatCleanStreamWritesUnderEveryWord)
{
    // tools/same-generated.sh --bytes does the same over more pages.
    const size_t sizes[] = {600, 2500, 9000};
    for (unsigned seed = 1; seed <= 3; seed++)
        for (size_t size : sizes) {
            string page = MixedPage(seed, size);
            for (uint32_t word = 0; word <= kPassSwitchMask; word += (size > 5000 ? 7 : 1))
                ExpectSame(page, word, "page " + std::to_string(seed) + "/" + std::to_string(size));
        }
    // Pages past the streams' 64 KiB buffers, and an empty page.
    const uint32_t words[] = {kDefaultSwitches, kDefaultSwitches & ~kOptExtractFirst,
                              kDefaultSwitches | kOptAnyLayout,
                              (kDefaultSwitches | kOptAnyLayout) & ~kOptExtractFirst,
                              kSwitchMask, kSwitchMask & ~kOptExtract};
    for (unsigned seed = 5; seed <= 6; seed++)
        for (uint32_t word : words) {
            ExpectSame(MixedPage(seed, 300000), word, "large page " + std::to_string(seed));
            ExpectSame("", word, "empty page");
        }
}

TEST(CleanBytes, WritesWhatCleanStreamWritesOnTheCorpus)
{
    std::vector<string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no shared corpus";
    const uint32_t words[] = {kDefaultSwitches, kDefaultSwitches & ~kOptExtractFirst,
                              kDefaultSwitches | kOptAnyLayout,
                              (kDefaultSwitches | kOptAnyLayout) & ~kOptExtractFirst,
                              kSwitchMask, kDefaultSwitches | kOptCutTables};
    for (const string &file : files) {
        string page = ReadFile(file);
        for (uint32_t word : words)
            ExpectSame(page, word, file);
    }
}

struct LimitCase {
    const char *name;
    size_t pageSize;
    uint32_t word;
    size_t limit;               // 0: the page's size times `times`
    double times;
    CleanStatus status;
    uint32_t sameAs;            // when done, it writes what CleanStream writes under this word
};

// A mixed page whose BODY tags are all closed at its end, so that the body
// is a part the table rule can keep and close (one left open runs to the
// page's end, and its output would be the page).
string ClosedMixedPage(unsigned seed, size_t size)
{
    string page = MixedPage(seed, size);
    for (size_t at = page.find("<body"); at != string::npos; at = page.find("<body", at + 1))
        page += "</body>";
    return page;
}

TEST(CleanBytes, HoldsToItsMemoryLimit)
{
    const uint32_t def = kDefaultSwitches, any = kDefaultSwitches | kOptAnyLayout;
    const uint32_t defLast = def & ~kOptExtractFirst, anyLast = any & ~kOptExtractFirst;
    const size_t big = 400000, small = 40000;
    // A page with a main part under the default switches (see the end).
    const unsigned kSeed = 10;
    size_t anyState = ByBytes(MixedPage(kSeed, small), any).report.part.memory;
    ASSERT_GT(anyState, small) << "the any-layout state is smaller than thought";
    const LimitCase cases[] = {
        {"no limit", big, def, kNoMemoryLimit, 0, kCleanDone, def},
        // The table rule read in place holds no page between stages: its
        // outline passes a small limit and the extraction copies.
        {"outline past the limit", big, def, 50000, 0, kCleanDone, def & ~kOptExtract},
        // The page between the element pass and the extraction.
        {"page between stages past the limit", big, defLast, 0, 0.5, kCleanOverLimit, 0},
        {"page between stages within the limit", big, defLast, 0, 1.0, kCleanDone, defLast},
        {"any layout, its state past the limit", small, any, anyState - 1, 0, kCleanDone,
         any & ~kOptExtract},
        {"any layout, the page between past the limit", big, any, anyState, 0, kCleanOverLimit, 0},
        {"any layout after, the page between past the limit", big, anyLast, 0, 0.5,
         kCleanOverLimit, 0},
        {"any layout after, within the limit", big, anyLast, 0, 1.0, kCleanDone, anyLast},
        {"extraction off holds nothing", big, kSwitchMask & ~kOptExtract, 1, 0, kCleanDone,
         kSwitchMask & ~kOptExtract},
    };
    for (const LimitCase &c : cases) {
        string page = ClosedMixedPage(kSeed, c.pageSize);
        size_t limit = c.limit ? c.limit : (size_t)((double)page.size() * c.times);
        Cleaned b = ByBytes(page, c.word, limit);
        EXPECT_EQ(b.status, c.status) << c.name;
        if (c.status == kCleanDone) {
            EXPECT_EQ(b.page, ByStream(page, c.sameAs).page) << c.name;
        }
    }
    // The page has a main part, so an extraction that copies shows.
    string page = ClosedMixedPage(kSeed, big);
    EXPECT_NE(ByStream(page, def).page, ByStream(page, def & ~kOptExtract).page);
}

// A sink that keeps what it is given.
struct Collect {
    string got;
    size_t calls = 0;
};

void CollectSink(void *context, const unsigned char *data, size_t n)
{
    Collect *c = (Collect *)context;
    c->got.append((const char *)data, n);
    c->calls++;
}

TEST(CleanBytes, WritesThroughASinkAndAfterWhatTheOutputHolds)
{
    string page = MixedPage(2, 200000);
    for (uint32_t word : {kDefaultSwitches, kDefaultSwitches & ~kOptExtractFirst, 0u}) {
        string expected = ByStream(page, word).page;
        Collect c;
        ByteStream out;
        StreamOpenSink(&out, CollectSink, &c);
        CleanSwitches sw = SwitchesFromWord(word);
        EXPECT_EQ(CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit, nullptr),
                  kCleanDone);
        StreamClose(&out);
        EXPECT_EQ(c.got, expected) << word;
        if (expected.size() > kStreamBufferSize) {
            EXPECT_GT(c.calls, 1u) << "the page goes out in pieces as it is cleaned";
        }

        // Into a buffer that holds something already: the report counts
        // only what the clean wrote.
        StreamOpenBuffer(&out);
        StreamWriteText(&out, "kept");
        CleanReport r;
        EXPECT_EQ(CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit, &r), kCleanDone);
        EXPECT_EQ(ReadBack(&out), "kept" + expected);
        EXPECT_EQ(r.bytesOut, (int64_t)expected.size());
        StreamClose(&out);
    }
    // An output that refuses writes.
    CleanSwitches sw = SwitchesFromWord(kDefaultSwitches);
    ByteStream out;
    StreamOpenMemory(&out, "", 0);
    EXPECT_EQ(CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit, nullptr),
              kCleanWriteFailed);
}

}  // namespace
