// Whole cleaning runs in this process: the run driver's paths, with the
// stages as they are.
#include <gtest/gtest.h>
#include <string.h>
#include "app/options.h"
#include "clean/run.h"
#include "tests/native/support.h"

TEST(PageName, AcceptsTheThreeSuffixesInAnyCase)
{
    for (const char *ok : {"a.htm", "A.HTM", "x/page.Html", "p.PLG", ".htm", "a b.html"})
        EXPECT_TRUE(IsPageName(ok)) << ok;
    for (const char *bad : {"page.shtml", "page.xhtm", "page.htm.bak", "page.txt", "page.htm ",
                            "html", "htm", "", "a.ht"})
        EXPECT_FALSE(IsPageName(bad)) << bad;
}
