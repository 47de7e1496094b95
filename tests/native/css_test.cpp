// The style scanner alone: the references it cuts from style text, fed a
// byte at a time and in runs of any length, which must cut the same bytes.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "clean/css.h"

namespace {

using std::string;

struct CssCase {
    const char *text;
    bool entities;              // a style attribute's value
    const char *kept;           // the text less its cuts
};

const CssCase kCssCases[] = {
    {"a{b:url(//x/a.png)}", false, "a{b:}"},
    {"a{b:URL( 'http://x' )}", false, "a{b:}"},
    {"a{b:url(a.png)}", false, "a{b:url(a.png)}"},
    {"a{b:url(javascript:x)}", false, "a{b:url(javascript:x)}"},
    {"a{b:xurl(//x)}", false, "a{b:xurl(//x)}"},
    {"a:url(//x", false, "a:"},                                 // cut through the text's end
    {"@import 'http://x/a.css' screen;p{}", false, "p{}"},
    {"@IMPORT url( //x/a.css ) print;p{}", false, "p{}"},
    {"@import url(local.css);p{}", false, "@import url(local.css);p{}"},
    {"@media print{p{}}", false, "@media print{p{}}"},
    {"/*url(//x)*/'url(//y)'", false, "/*url(//x)*/'url(//y)'"},
    {"a:\\75 rl(//x);", false, "a:;"},
    {"a:u\\rl(//x);", false, "a:;"},
    {"a:-moz-image-set('//x' 1x,'b' 2x)", false, "a:-moz-image-set( 1x,'b' 2x)"},
    {"a:ur&#108;(//x);", true, "a:;"},
    {"a:url&#40;//x);", true, "a:;"},
    {"a:ur&#108;(//x);", false, "a:ur&#108;(//x);"},
};

// Cuts [start, end) of the scanner's last call out of `keep`.
void TakeCuts(const CssScanner &s, std::vector<bool> *keep)
{
    for (int32_t i = 0; i < s.cutCount; i++)
        for (int64_t at = s.cuts[i].start; at < s.cuts[i].end; at++)
            (*keep)[(size_t)at] = false;
}

// piece 0: a byte at a time through CssScannerByte; else runs of `piece`.
string Scan(const CssCase &c, size_t piece)
{
    string t = c.text;
    std::vector<bool> keep(t.size(), true);
    CssScanner s;
    StartCssScanner(&s, c.entities);
    const unsigned char *p = (const unsigned char *)t.data();
    for (size_t at = 0; at < t.size();) {
        if (piece == 0) {
            CssScannerByte(&s, p[at], (int64_t)at);
            at++;
        } else {
            at += CssScannerRun(&s, p + at, std::min(piece, t.size() - at), (int64_t)at);
        }
        TakeCuts(s, &keep);
    }
    FinishCssScanner(&s, (int64_t)t.size());
    TakeCuts(s, &keep);
    string kept;
    for (size_t i = 0; i < t.size(); i++)
        if (keep[i])
            kept += t[i];
    return kept;
}

TEST(CssScanner, CutsTheSameBytesAnyWayFed)
{
    for (const CssCase &c : kCssCases)
        for (size_t piece : {0, 1, 3, 64})
            EXPECT_EQ(Scan(c, piece), c.kept) << c.text << " in pieces of " << piece;
}

}  // namespace
