// Two threads clean different pages at once on memory streams, through
// CleanStream (temporary files between stages) and CleanBytes (buffers):
// each must write exactly what one thread alone writes. Built into a test
// program of its own, without GLib, so that the linux-tsan preset can run
// it under ThreadSanitizer; the threads make no GoogleTest calls.
#include <gtest/gtest.h>
#include <atomic>
#include <string>
#include <thread>
#include <vector>
#include "app/options.h"
#include "clean/clean.h"

namespace {

// A page of some 300 KB with what every stage looks at, different for each
// seed: tables and cells, forms around tables and not, scripts, styles,
// comments, remote pictures, style attributes.
std::string MakePage(unsigned seed)
{
    static const char *const kPieces[] = {
        "<table><tr><td>one two three</td><td>four <b style=\"c:d\">five</b></td></tr></table>",
        "<form action=x><input></form> ", "<form><table><tr><td>kept form</td></tr></table></form>",
        "<script>var a = '<td>';</script>\r\n", "<style>p{color:red}</style>", "<!-- note -->",
        "<img src=\"http://x/a.gif\"> ", "<td background=\"http:b.gif\">cell words here</td>",
        "<p style=\"margin:0\">text text text</p>", "<object><object>x</object></object> ",
        "<meta name=keywords content=x>", "<div style=\"background: url(x.gif)\">d</div>",
    };
    std::string page = "<html><head><title>t</title></head><body>";
    unsigned x = seed * 2654435761u + 1;
    while (page.size() < 300000) {
        x = x * 1103515245u + 12345u;
        page += kPieces[(x >> 16) % (sizeof kPieces / sizeof *kPieces)];
        page += seed % 2 ? " words words" : "\n";
    }
    return page + "</body></html>";
}

std::string Clean(const std::string &page, uint32_t word, bool bytes)
{
    CleanSwitches sw = SwitchesFromWord(word);
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    std::string result;
    CleanStatus status = bytes ? CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit,
                                            nullptr)
                               : CleanStream(&sw, &in, &out, nullptr);
    if (status == kCleanDone)
        result.assign((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return result;
}

TEST(Threads, TwoCleansAtOnceWriteWhatOneWrites)
{
    // The default order reads the extraction in place; without extract
    // first it goes through a temporary file.
    const uint32_t words[] = {kDefaultSwitches, kDefaultSwitches & ~kOptExtractFirst, kSwitchMask,
                              0, kOptForms | kOptExtract | kOptCutTables,
                              kDefaultSwitches | kOptAnyLayout};
    const std::string pages[2] = {MakePage(1), MakePage(2)};
    std::vector<std::string> alone[2];
    for (int p = 0; p < 2; p++)
        for (uint32_t w : words)
            alone[p].push_back(Clean(pages[p], w, false));

    std::atomic<int> differences(0);
    auto work = [&](int p) {
        for (int round = 0; round < 6; round++)
            for (size_t k = 0; k < sizeof words / sizeof *words; k++)
                if (Clean(pages[p], words[k], round % 2 == 1) != alone[p][k])
                    differences++;
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(differences.load(), 0);
    EXPECT_NE(alone[0][0], alone[1][0]);
}

}  // namespace
