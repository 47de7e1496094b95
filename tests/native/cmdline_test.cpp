// The path taken from the command line.
#include <gtest/gtest.h>
#include "app/cmdline.h"

// The Windows command line's tail: a trailing quote goes, then a leading
// one. The tail as given, quotes and all, must fit with its zero.
TEST(CommandLinePath, QuotesStrippedAndLongTailsRefused)
{
    const struct {
        const char *tail;
        size_t size;
        const char *path;       // none: refused
    } cases[] = {
        {"\"C:\\My Pages\\a.htm\"", 64, "C:\\My Pages\\a.htm"},
        {"C:\\a.htm", 64, "C:\\a.htm"},
        {"\"C:\\a.htm", 64, "C:\\a.htm"},
        {"C:\\a.htm\"", 64, "C:\\a.htm"},
        {"\"\"C:\\a.htm\"\"", 64, "\"C:\\a.htm\""},
        {"\"", 64, ""},
        {"", 64, ""},
        {"C:\\a.htm", 9, "C:\\a.htm"},
        {"C:\\a.htm", 8, nullptr},
        {"\"C:\\a.htm\"", 10, nullptr},
    };
    for (const auto &c : cases) {
        char out[64];
        bool taken = TakeCommandLinePath(c.tail, out, c.size);
        EXPECT_EQ(taken, c.path != nullptr) << c.tail << " in " << c.size;
        if (taken && c.path) {
            EXPECT_STREQ(out, c.path) << c.tail;
        }
    }
}
