// A cleaned page is a fixed point: cleaned again with the same switches it
// comes back byte for byte, so a second run leaves it alone ("already
// clean", nothing trashed). Over the corpus (read in place) and the pages
// of the fuzz seed generator, under several switch words.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "app/options.h"
#include "app/run.h"
#include "clean/clean.h"
#include "tests/native/support.h"

namespace {

using std::string;

string CleanOnce(uint32_t word, const string &page)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream out;
    StreamOpenBuffer(&out);
    EXPECT_EQ(CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit, nullptr), kCleanDone);
    string result((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return result;
}

// Corpus pages on which the rule for any layout still chooses anew after
// the three runs of a clean: it judges its cuts against what is left, so
// each run cuts more of the same part (0051, 0158), or on its own output it
// takes a smaller part inside the last (0226).
const std::vector<const char *> kStillChoosing = {"0051_", "0158_", "0226_"};

struct FixedWord {
    const char *name;
    uint32_t word;
    const std::vector<const char *> *moving;    // corpus pages known to move, by prefix
    bool generated;                             // over the generated pages too
};

const FixedWord kWords[] = {
    {"default", kDefaultSwitches, nullptr, true},
    {"no-extract", kDefaultSwitches & ~kOptExtract, nullptr, true},
    {"extract-last", kDefaultSwitches & ~kOptExtractFirst, nullptr, true},
    {"everything off", 0, nullptr, true},
    {"any layout", kDefaultSwitches | kOptAnyLayout, &kStillChoosing, false},
    {"any layout, no-extract", (kDefaultSwitches | kOptAnyLayout) & ~kOptExtract, nullptr, true},
    {"extract and frames only, extract-last", kOptExtract | kOptFrames, nullptr, true},
};

bool KnownToMove(const FixedWord &w, const string &path)
{
    if (!w.moving)
        return false;
    string name = path.substr(path.rfind('/') + 1);
    for (const char *prefix : *w.moving)
        if (name.compare(0, strlen(prefix), prefix) == 0)
            return true;
    return false;
}

void ExpectFixedPoint(const FixedWord &w, const string &name, const string &page)
{
    string once = CleanOnce(w.word, page);
    string twice = CleanOnce(w.word, once);
    EXPECT_TRUE(once == twice) << name << " under " << w.name << ": " << once.size() << " -> "
                               << twice.size() << " bytes";
}

TEST(FixedPoint, Corpus)
{
    std::vector<string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    for (const FixedWord &w : kWords)
        for (const string &f : files)
            if (!KnownToMove(w, f))
                ExpectFixedPoint(w, f, ReadFile(f));
}

// Small pages on which a first clean judged what its later stages remove:
// words and tags in elements the element pass deletes (in a comment it
// keeps, past that comment's end), and a table left behind another that
// the cut of tables took.
const char *const kJudgedPages[] = {
    "<body><table><td>x<script>w w w w w w w w w w</script></td></table>"
    "<table><td>a b c d e f</td></table></body>",
    "<body><table><td>x<style>p p p p p p p p p p</style></td></table><table><td>a b c d e f</td></table></body>",
    "<body><table><td>a b c d e f</td></table><script>document.write('<table><td>w w w w w w w w</td>"
    "</table>')</script></body>",
    "<body><table><td>a b c d e f</td></table><script>if(a<</script><table><td>w w w w w w w w</td>"
    "</table></script></body>",
    "<body><table><td>a b c d e f</td></table><!-- <script>x</scrip> --><table><td>w w w w w w w w</td>"
    "</table></script></body>",
    "<body><table><td>x<script src=\"https://e.example/a.js\">w w w w w w w w w w</script></td></table>"
    "<table><td>a b c d e f</td></table></body>",
    "<body><table><td>a b c d e<form><table><td>x</td></table><table><td>y</td></table></form> f</td>"
    "</table></body>",
};

// With the cut of tables the extraction must come first: extracted last, it
// may cut the tables that kept a FORM around them, which goes on the next
// clean.
TEST(FixedPoint, JudgedAsLeft)
{
    for (const FixedWord &w : kWords)
        for (const char *page : kJudgedPages) {
            ExpectFixedPoint(w, page, page);
            if (w.word & kOptExtractFirst) {
                FixedWord withCut = {w.name, w.word | kOptCutTables, nullptr, false};
                ExpectFixedPoint(withCut, string("cut tables: ") + page, page);
            }
        }
}

// The generator's pages as tools/same-generated.sh makes them: each seed's
// page, some cut off at a random place, and pages of several hundred KiB
// joined from them. The rule for any layout is left out: its closing tags
// behind a part cut inside a tag grow on every clean.
TEST(FixedPoint, GeneratedPages)
{
    TempDir dir;
    string seeds = dir.File("seeds"), pages = dir.File("pages");
    string make = "python3 '" WEBTRIM_SOURCE_DIR "/fuzz/make_seeds.py' '" + seeds + "' 60 >/dev/null 2>&1";
    if (system("command -v python3 >/dev/null 2>&1") != 0 || system(make.c_str()) != 0)
        GTEST_SKIP() << "no python3 to run the seed generator";
    string split = "python3 - '" + seeds + "' '" + pages + "' <<'PY'\n"
                   "import os, random, sys\n"
                   "seeds, pages = sys.argv[1], sys.argv[2]\n"
                   "os.makedirs(pages)\n"
                   "rng = random.Random(7)\n"
                   "bodies = [open(os.path.join(seeds, n), 'rb').read()[2:] for n in sorted(os.listdir(seeds))]\n"
                   "for i, b in enumerate(bodies):\n"
                   "    open(os.path.join(pages, 'p%04d.htm' % i), 'wb').write(b)\n"
                   "    if b and i % 2 == 0:\n"
                   "        cut = rng.randrange(len(b))\n"
                   "        open(os.path.join(pages, 'c%04d.htm' % i), 'wb').write(b[:cut])\n"
                   "for i in range(6):\n"
                   "    big = b''.join(rng.choice(bodies) for _ in range(400))\n"
                   "    open(os.path.join(pages, 'b%04d.htm' % i), 'wb').write(big[: rng.randrange(len(big) // 2, len(big))])\n"
                   "PY\n";
    ASSERT_EQ(system(split.c_str()), 0);
    std::vector<string> names = ListFolder(pages);
    ASSERT_GT(names.size(), 60u);
    for (const FixedWord &w : kWords)
        for (const string &n : names)
            if (w.generated)
                ExpectFixedPoint(w, n, ReadFile(pages + "/" + n));
}

// The run itself over a cleaned page: already clean, the same file, nothing
// in the trash. The cleaned pages of every twelfth corpus page and of those
// that moved before (a style inside a handler's value, a data-style, the
// closing tags deleted with an element left open at the end of the part,
// script text judged as the page's words).
TEST(FixedPoint, SecondRunIsAlreadyClean)
{
    std::vector<string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    TempDir dir;
    string page = dir.File("page.htm");
    const std::vector<string> trashed = ListFolder(TrashFolder());
    const FixedWord &w = kWords[0];
    for (size_t i = 0; i < files.size(); i++) {
        const string &f = files[i];
        bool moved = false;
        for (const char *m : {"/0005_", "/0025_", "/0030_", "/0132_", "/0144_", "/0195_", "/0203_",
                              "/0205_", "/0219_"})
            moved = moved || f.find(m) != string::npos;
        if ((i % 12 != 0 && !moved) || KnownToMove(w, f))
            continue;
        string cleaned = CleanOnce(w.word, ReadFile(f));
        WriteFile(page, cleaned);
        ClearMessages();
        PageResult r;
        EXPECT_TRUE(RunInPlace(page, kDefaultOptions, "", &r)) << f;
        EXPECT_EQ(r.outcome, kPageAlreadyClean) << f;
        EXPECT_EQ(ReadFile(page), cleaned) << f;
    }
    EXPECT_EQ(ListFolder(TrashFolder()), trashed);
    EXPECT_EQ(ListFolder(dir.path), std::vector<string>{"page.htm"});
}

}  // namespace
