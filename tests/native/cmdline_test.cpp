// The path taken from the command line.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
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

// The tail split as CommandLineToArgvW splits the arguments after the
// program's name (the Wine test compares the same rules with the real call).
TEST(CommandLineSplit, ArgumentsByTheWindowsRules)
{
    const struct {
        const char *tail;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {" \t ", {}},
        {"a.htm", {"a.htm"}},
        {"  a.htm\tb.htm  ", {"a.htm", "b.htm"}},
        // What "Send To" and a shortcut give: each path quoted.
        {"\"C:\\My Pages\\a.htm\" \"C:\\b c.htm\"", {"C:\\My Pages\\a.htm", "C:\\b c.htm"}},
        {"C:\\x\\a.htm \"C:\\y z\\b.htm\"", {"C:\\x\\a.htm", "C:\\y z\\b.htm"}},
        // Quotes inside an argument join its parts; an open quote runs on.
        {"C:\\My\" \"Pages\\a.htm", {"C:\\My Pages\\a.htm"}},
        {"\"C:\\My Pages\\a.htm", {"C:\\My Pages\\a.htm"}},
        {"\"\"", {""}},
        {"\"\" b", {"", "b"}},
        // Backslashes: doubled before a quote, as they are elsewhere.
        {"a\\\\b", {"a\\\\b"}},
        {"\"C:\\folder\\\\\" next", {"C:\\folder\\", "next"}},
        {"a\\\"b", {"a\"b"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"trailing\\", {"trailing\\"}},
        // Two quotes inside quotes give one and end the quoted part.
        {"\"a\"\"b c\"", {"a\"b", "c"}},
        {"\"a\"\"\"b c\"", {"a\"b c"}},
        {"\"\"\"a\"", {"\"a"}},
        {"\"\"\"\"", {"\""}},
        // Bytes of UTF-8 names pass untouched.
        {"\"C:\\\xd1\x81\xd1\x82\xd0\xb0\xd1\x82\xd1\x8c\xd1\x8f \xf0\x9f\x98\x80.html\" \xe6\x96\x87.htm",
         {"C:\\\xd1\x81\xd1\x82\xd0\xb0\xd1\x82\xd1\x8c\xd1\x8f \xf0\x9f\x98\x80.html", "\xe6\x96\x87.htm"}},
    };
    for (const auto &c : cases) {
        size_t n = strlen(c.tail);
        // Exactly the promised room, with a guard byte after it.
        std::vector<char> out(n + 2, '#');
        int count = SplitCommandLine(c.tail, out.data());
        EXPECT_EQ(out[n + 1], '#') << c.tail << ": wrote past strlen + 1";
        std::vector<std::string> args;
        const char *p = out.data();
        for (int i = 0; i < count; i++, p += strlen(p) + 1)
            args.push_back(p);
        EXPECT_EQ(args, c.args) << c.tail;
    }
}
