// The library's C interface (include/webtrim.h) through the shared library:
// options by name against the program's switch bits, the records' sizes,
// both ways out, the result's figures and the statuses.
#include <gtest/gtest.h>
#include <string.h>
#include <set>
#include <string>
#include "clean/clean.h"
#include "include/webtrim.h"
#include "app/options.h"
#include "tests/native/support.h"

namespace {

using std::string;

// Each option name and the switch of the options word it must stand for.
struct NamedBit {
    const char *name;
    uint32_t mask;
};
const NamedBit kNamedBits[] = {
    {"comments", kOptComments}, {"scripts", kOptScripts}, {"styles", kOptStyles},
    {"forms", kOptForms}, {"internet", kOptInternet}, {"meta", kOptMeta},
    {"pictures", kOptPictures}, {"modules", kOptModules}, {"frames", kOptFrames},
    {"extract", kOptExtract}, {"cut-tables", kOptCutTables}, {"extract-first", kOptExtractFirst},
    {"any-layout", kOptAnyLayout}, {"avoid-bad-colors", kOptBadColors},
};

// A page where every switch changes the output under one rule or the
// other: the script in the body holds table tags, so that the table rule
// finds the main cell only when the scripts go first.
const string kPage =
    "<html><head><title>t</title><style>p{color:red}</style><meta name=k content=x>"
    "<script>var a;</script><link rel=stylesheet href=\"http://x/a.css\"></head>"
    "<body bgcolor=black><table><tr><td>menu</td></tr></table><script>var s = \"<table><tr>"
    "<td>words in a script, one two three four five six seven eight nine ten\";</script>"
    "<table><tr><td><div class=article><p style=\"color:blue\">The council met on Tuesday and "
    "voted, after a long debate, to keep the old bridge open for the people who cross it every "
    "day.</p><!-- note --><table><tr><td>inner cell with words and more words</td></tr></table>"
    "<p>More running prose follows here, with commas, and enough words to count.</p></div>"
    "<img src=\"p.gif\"><img src=\"http://x/p.gif\"><object>o</object><iframe src=\"f.htm\">f"
    "</iframe><form action=a><input></form></td></tr></table></body></html>";

string ByCore(const string &page, uint32_t word, CleanReport *report = nullptr)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream out;
    StreamOpenBuffer(&out);
    EXPECT_EQ(CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit, report), kCleanDone);
    string s = ReadBack(&out);
    StreamClose(&out);
    return s;
}

string ByLibrary(const wt_options *options, const string &page, int *status = nullptr,
                 wt_result *result = nullptr)
{
    unsigned char *out = nullptr;
    size_t size = 0;
    int st = wt_clean_to_buffer(options, page.data(), page.size(), &out, &size, result);
    if (status)
        *status = st;
    string s = out ? string((const char *)out, size) : "(none)";
    wt_free(out);
    return s;
}

TEST(Library, OptionsByNameAreTheProgramsSwitches)
{
    wt_options o;
    ASSERT_EQ(wt_options_init(&o, sizeof o), WT_OK);
    EXPECT_EQ(o.size, sizeof o);
    EXPECT_EQ(ByLibrary(&o, kPage), ByCore(kPage, kDefaultSwitches)) << "the program's defaults";
    EXPECT_EQ(ByLibrary(nullptr, kPage), ByCore(kPage, kDefaultSwitches)) << "no options";

    std::set<string> listed;
    for (int i = 0; wt_option_name(i); i++)
        listed.insert(wt_option_name(i));
    EXPECT_EQ(listed.size(), (size_t)kSwitchCount);
    for (const NamedBit &b : kNamedBits) {
        EXPECT_EQ(listed.count(b.name), 1u) << b.name;
        EXPECT_EQ(wt_options_get(&o, b.name), (kDefaultSwitches & b.mask) ? 1 : 0) << b.name;
        // Each switch flipped by name writes what the core writes with its bit flipped.
        wt_options flipped = o;
        bool on = !(kDefaultSwitches & b.mask);
        ASSERT_EQ(wt_options_set(&flipped, b.name, on), WT_OK) << b.name;
        EXPECT_EQ(wt_options_get(&flipped, b.name), on ? 1 : 0) << b.name;
        uint32_t word = kDefaultSwitches ^ b.mask;
        EXPECT_EQ(ByLibrary(&flipped, kPage), ByCore(kPage, word)) << b.name;
        // And with any layout, where extract and cut-tables act too.
        wt_options any = flipped;
        if (b.mask != kOptAnyLayout) {
            wt_options_set(&any, "any-layout", 1);
            EXPECT_EQ(ByLibrary(&any, kPage), ByCore(kPage, word | kOptAnyLayout)) << b.name;
        }
        // The page tells every switch from the others, but the order of
        // the stages: the table rule judges the page as the element pass
        // leaves it, so it finds the same part either way.
        if (b.mask != kOptExtractFirst) {
            EXPECT_TRUE(ByCore(kPage, word) != ByCore(kPage, kDefaultSwitches) ||
                        ByCore(kPage, word | kOptAnyLayout) !=
                            ByCore(kPage, kDefaultSwitches | kOptAnyLayout)) << b.name;
        }
    }
}

// The clean reads each switch from its field of the record: a field set
// by hand, to any byte but 0, turns on that switch and no other.
TEST(Library, FieldsSetByHandAreTheirSwitches)
{
    for (const NamedBit &b : kNamedBits) {
        wt_options none;
        wt_options_init(&none, sizeof none);
        for (const NamedBit &c : kNamedBits)
            wt_options_set(&none, c.name, 0);
        wt_options one = none;
        wt_options_set(&one, b.name, 1);
        // The one byte that differs is the field's; a caller's bool may hold 0x80.
        size_t at = 0;
        while (at < sizeof one && ((unsigned char *)&one)[at] == ((unsigned char *)&none)[at])
            at++;
        ASSERT_LT(at, sizeof one) << b.name;
        ((unsigned char *)&none)[at] = 0x80;
        EXPECT_EQ(wt_options_get(&none, b.name), 1) << b.name;
        EXPECT_EQ(ByLibrary(&none, kPage), ByCore(kPage, b.mask)) << b.name;
        EXPECT_EQ(ByLibrary(&none, kPage), ByLibrary(&one, kPage)) << b.name;
    }
}

TEST(Library, OptionNamesAsTheCommandLineTakesThem)
{
    struct Case {
        const char *name;
        int on;
        int status;
        uint32_t word;      // the switches after it, from the defaults
    };
    const uint32_t kinds = kOptComments | kOptScripts | kOptStyles | kOptForms | kOptInternet |
                           kOptMeta | kOptPictures | kOptModules | kOptFrames;
    const Case cases[] = {
        {"all", 1, WT_OK, kDefaultSwitches | kinds},
        {"all", 0, WT_OK, kDefaultSwitches & ~kinds},
        {"cut_tables", 1, WT_OK, kDefaultSwitches | kOptCutTables},
        {"any_layout", 1, WT_OK, kDefaultSwitches | kOptAnyLayout},
        {"picture", 1, WT_ERR_OPTION, kDefaultSwitches},
        {"Pictures", 1, WT_ERR_OPTION, kDefaultSwitches},
        {"trash", 1, WT_ERR_OPTION, kDefaultSwitches},       // not a switch of the clean
        {"", 1, WT_ERR_OPTION, kDefaultSwitches},
        {nullptr, 1, WT_ERR_OPTION, kDefaultSwitches},
    };
    for (const Case &c : cases) {
        wt_options o;
        wt_options_init(&o, sizeof o);
        const char *shown = c.name ? c.name : "(null)";
        EXPECT_EQ(wt_options_set(&o, c.name, c.on), c.status) << shown;
        for (const NamedBit &b : kNamedBits)
            EXPECT_EQ(wt_options_get(&o, b.name), (c.word & b.mask) ? 1 : 0) << shown << " " << b.name;
    }
    wt_options o;
    wt_options_init(&o, sizeof o);
    EXPECT_EQ(wt_options_get(&o, "picture"), -1);
    EXPECT_EQ(wt_options_get(&o, "all"), 0) << "not every kind is on by default";
    EXPECT_EQ(wt_options_set(nullptr, "all", 1), WT_ERR_ARGUMENT);
}

TEST(Library, RecordsOfOtherSizes)
{
    // A record from a later header: longer, its new fields zero or not.
    struct LaterOptions {
        wt_options known;
        uint64_t newer[2];
    } later;
    ASSERT_EQ(wt_options_init(&later.known, sizeof later), WT_OK);
    EXPECT_EQ(later.newer[0] | later.newer[1], 0u) << "init fills the whole record";
    EXPECT_EQ(later.known.size, sizeof later);
    int status;
    EXPECT_EQ(ByLibrary(&later.known, kPage, &status), ByCore(kPage, kDefaultSwitches));
    later.newer[1] = 1;
    EXPECT_EQ(ByLibrary(&later.known, kPage, &status), "(none)");
    EXPECT_EQ(status, WT_ERR_RECORD) << "a field this library does not know is set";

    wt_options o;
    EXPECT_EQ(wt_options_init(&o, offsetof(wt_options, companion_files) - 1), WT_ERR_RECORD);
    wt_options_init(&o, sizeof o);
    o.size = offsetof(wt_options, memory_limit);
    ByLibrary(&o, kPage, &status);
    EXPECT_EQ(status, WT_ERR_RECORD) << "shorter than the first version";

    struct LaterResult {
        wt_result known;
        int64_t newer[2];
    } result;
    memset(&result, 0x5A, sizeof result);
    result.known.size = sizeof result;
    ByLibrary(nullptr, kPage, &status, &result.known);
    EXPECT_EQ(status, WT_OK);
    EXPECT_EQ(result.known.size, sizeof result) << "the caller's size stays";
    EXPECT_EQ(result.newer[0] | result.newer[1], 0) << "fields past ours are zeroed";
    EXPECT_EQ(result.known.bytes_in, (int64_t)kPage.size());
    result.known.size = sizeof(wt_result) - 8;
    ByLibrary(nullptr, kPage, &status, &result.known);
    EXPECT_EQ(status, WT_ERR_RECORD);
}

// A sink that takes `room` pieces, then refuses.
struct Sink {
    string got;
    int pieces = 0;
    int room = 1 << 30;
};

int ToSink(void *context, const void *data, size_t n)
{
    Sink *s = (Sink *)context;
    if (s->pieces >= s->room)
        return -1;
    s->pieces++;
    s->got.append((const char *)data, n);
    return 0;
}

TEST(Library, ThroughASinkAsIntoABuffer)
{
    string big = kPage;
    while (big.size() < 300000)
        big.insert(big.size() - 14, "<p style=\"x\">Many more words of the page, one by one.</p>");
    wt_options o;
    wt_options_init(&o, sizeof o);
    o.extract = false;                   // so that the page stays large
    string buffered = ByLibrary(&o, big);
    ASSERT_GT(buffered.size(), 200000u);

    Sink all;
    wt_result r;
    r.size = sizeof r;
    EXPECT_EQ(wt_clean(&o, big.data(), big.size(), ToSink, &all, &r), WT_OK);
    EXPECT_EQ(all.got, buffered);
    EXPECT_GT(all.pieces, 1);
    EXPECT_EQ(r.bytes_out, (int64_t)buffered.size());

    Sink refusing;
    refusing.room = 1;
    EXPECT_EQ(wt_clean(&o, big.data(), big.size(), ToSink, &refusing, &r), WT_ERR_WRITE);
    EXPECT_EQ(r.status, WT_ERR_WRITE);
    EXPECT_EQ(refusing.pieces, 1) << "nothing more after a refusal";
    EXPECT_EQ(refusing.got, buffered.substr(0, refusing.got.size()));

    // An empty page: a buffer all the same, of no bytes.
    unsigned char *out = nullptr;
    size_t size = 7;
    EXPECT_EQ(wt_clean_to_buffer(&o, nullptr, 0, &out, &size, nullptr), WT_OK);
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(size, 0u);
    wt_free(out);
}

TEST(Library, TheResultsFigures)
{
    struct Case {
        const char *name;
        uint32_t word;
        int outcome;
    };
    const Case cases[] = {
        {"defaults", kDefaultSwitches, WT_OUTCOME_WRAPPED_CELL},
        // The script's words and cells count where the element pass keeps it.
        {"scripts kept", kDefaultSwitches & ~kOptScripts, WT_OUTCOME_NO_MAIN_PART},
        {"extract last", kDefaultSwitches & ~kOptExtractFirst, WT_OUTCOME_WRAPPED_CELL},
        {"extraction off", kDefaultSwitches & ~kOptExtract, WT_OUTCOME_OFF},
        {"any layout", kDefaultSwitches | kOptAnyLayout, WT_OUTCOME_ANY_LAYOUT_PART},
        {"any layout, extract last", (kDefaultSwitches | kOptAnyLayout) & ~kOptExtractFirst,
         WT_OUTCOME_ANY_LAYOUT_PART},
        {"every switch", kSwitchMask, WT_OUTCOME_ANY_LAYOUT_PART},
    };
    for (const Case &c : cases) {
        wt_options o;
        wt_options_init(&o, sizeof o);
        for (const NamedBit &b : kNamedBits)
            wt_options_set(&o, b.name, (c.word & b.mask) != 0);
        CleanReport core;
        string expected = ByCore(kPage, c.word, &core);
        wt_result r;
        r.size = sizeof r;
        int status;
        EXPECT_EQ(ByLibrary(&o, kPage, &status, &r), expected) << c.name;
        EXPECT_EQ(r.status, WT_OK) << c.name;
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.bytes_in, (int64_t)kPage.size()) << c.name;
        EXPECT_EQ(r.bytes_out, (int64_t)expected.size()) << c.name;
        EXPECT_EQ(r.removed_by_elements, core.removed[kStageElements]) << c.name;
        EXPECT_EQ(r.removed_by_extraction, core.removed[kStageExtraction]) << c.name;
        EXPECT_EQ(r.removed_by_attributes, core.removed[kStageAttributes]) << c.name;
        for (int k = 0; k < WT_REMOVAL_SLOTS; k++) {
            bool known = k < kRemovalKindCount;
            EXPECT_EQ(r.removals[k], known ? core.removals.count[k] : 0) << c.name << " " << k;
            EXPECT_EQ(r.removal_bytes[k], known ? core.removals.bytes[k] : 0) << c.name << " " << k;
        }
        if (c.outcome == WT_OUTCOME_ANY_LAYOUT_PART) {
            ASSERT_NE(r.part_tag, nullptr) << c.name;
            EXPECT_STREQ(r.part_tag, core.part.tag) << c.name;
            EXPECT_EQ(r.part_start, core.part.start) << c.name;
            EXPECT_EQ(r.part_end, core.part.end + 1) << c.name;
            if (c.word & kOptExtractFirst) {
                EXPECT_EQ(kPage.substr(r.part_start, 5), "<div ") << c.name;
            }
        } else {
            EXPECT_EQ(r.part_tag, nullptr) << c.name;
            EXPECT_EQ(r.part_start, -1) << c.name;
        }
    }
    // The kinds' names are the command line's.
    for (int k = 0; k < kRemovalKindCount; k++)
        EXPECT_STREQ(wt_removal_name(k), kRemovalKinds[k].name);
    EXPECT_EQ(wt_removal_name(kRemovalKindCount), nullptr);
    EXPECT_STREQ(wt_outcome_name(WT_OUTCOME_WHOLE_TABLE), "whole-table");
    EXPECT_STREQ(wt_original_name(WT_ORIGINAL_IN_TRASH), "trash");
    EXPECT_EQ(wt_original_name(WT_ORIGINAL_IN_FOLDER + 1), nullptr);
    EXPECT_EQ(wt_outcome_name(WT_OUTCOME_ANY_LAYOUT_PART + 1), nullptr);
}

TEST(Library, FailuresAndTheirNames)
{
    string big(400000, 'x');
    big = "<html><body>" + big + "</body></html>";
    wt_options o;
    wt_options_init(&o, sizeof o);
    o.extract_first = false;
    o.memory_limit = 100000;
    int status;
    wt_result r;
    r.size = sizeof r;
    EXPECT_EQ(ByLibrary(&o, big, &status, &r), "(none)");
    EXPECT_EQ(status, WT_ERR_MEMORY_LIMIT);
    EXPECT_EQ(r.status, WT_ERR_MEMORY_LIMIT);
    o.memory_limit = 0;
    EXPECT_EQ(ByLibrary(&o, big, &status), ByCore(big, kDefaultSwitches & ~kOptExtractFirst));

    unsigned char *out = (unsigned char *)&status;
    size_t size = 9;
    EXPECT_EQ(wt_clean_to_buffer(&o, nullptr, 5, &out, &size, &r), WT_ERR_ARGUMENT);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(r.status, WT_ERR_ARGUMENT);
    EXPECT_EQ(wt_clean_to_buffer(&o, "x", 1, nullptr, &size, nullptr), WT_ERR_ARGUMENT);
    EXPECT_EQ(wt_clean(&o, "x", 1, nullptr, nullptr, nullptr), WT_ERR_ARGUMENT);

    std::set<string> names, texts;
    const int codes[] = {WT_OK, WT_ERR_ARGUMENT, WT_ERR_RECORD, WT_ERR_OPTION, WT_ERR_NO_MEMORY,
                         WT_ERR_MEMORY_LIMIT, WT_ERR_WRITE, WT_ERR_NOT_ARCHIVE};
    for (int code : codes) {
        names.insert(wt_status_name(code));
        texts.insert(wt_status_text(code));
    }
    EXPECT_EQ(names.size(), sizeof codes / sizeof *codes) << "a name of its own for each";
    EXPECT_EQ(texts.size(), sizeof codes / sizeof *codes) << "a text of its own for each";
    EXPECT_STREQ(wt_status_text(WT_ERR_WRITE), "Cannot write the cleaned page");
    EXPECT_STREQ(wt_status_name(WT_ERR_MEMORY_LIMIT), "memory-limit");
    EXPECT_STREQ(wt_status_name(99), "unknown");
    EXPECT_STREQ(wt_status_text(-1), "Unknown error");
    EXPECT_STREQ(wt_version(), WT_VERSION_STRING);
}

TEST(Library, SingleFilePagesByTheirFirstBytes)
{
    const string head = "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=b\r\n\r\n";
    const string rest = "--b\r\nContent-Location: http://h/a.js\r\n\r\nalert(1)\r\n--b--\r\n";
    const string doc = head + "--b\r\nContent-Type: text/html\r\n\r\n<p>a<script src=http://h/a.js></script>b\r\n" + rest;
    wt_options o;
    wt_options_init(&o, sizeof o);
    o.extract = 0;
    unsigned char *out;
    size_t size;
    wt_result r = {};
    r.size = sizeof r;
    // The script's part goes with its SCRIPT under the companion-files switch.
    for (bool companion : {true, false}) {
        o.companion_files = companion;
        ASSERT_EQ(wt_clean_to_buffer(&o, doc.data(), doc.size(), &out, &size, &r), WT_OK);
        EXPECT_EQ(string((const char *)out, size), head + "--b\r\nContent-Type: text/html\r\n\r\n<p>ab\r\n" +
                                                       (companion ? "--b--\r\n" : rest))
            << companion;
        EXPECT_EQ(r.bytes_in, (int64_t)doc.size());
        wt_free(out);
    }
    const string cut = doc.substr(0, doc.size() - 7);
    EXPECT_EQ(wt_clean_to_buffer(&o, cut.data(), cut.size(), &out, &size, &r), WT_ERR_NOT_ARCHIVE);
    EXPECT_EQ(r.status, WT_ERR_NOT_ARCHIVE);
}

}  // namespace
