// The tag scans of bytescan.h, sixteen bytes at a time, against the same
// questions answered a byte at a time, on texts that put every byte near
// the edges of the blocks.
#include <gtest/gtest.h>
#include <ctype.h>
#include <string.h>
#include <string>
#include "clean/bytescan.h"
#include "clean/tagbuf.h"

namespace {

using std::string;

const char kPairs[] = "kgl(yl";     // the attribute stage's, with both switches

bool IsPair(unsigned char a, unsigned char b, unsigned *which)
{
    *which = 0;
    for (int k = 0; k < 3; k++)
        if ((a | 0x20) == kPairs[2 * k] && (b | 0x20) == kPairs[2 * k + 1])
            *which |= 1u << k;
    return *which != 0;
}

// FindTagEnd a byte at a time: p[-1] readable.
size_t TagEndByBytes(const unsigned char *p, size_t n, size_t *first)
{
    *first = n;
    size_t i = 0;
    unsigned which;
    for (; i < n && p[i] != '>'; i++)
        if (*first == n && IsPair(p[i - 1], p[i], &which))
            *first = i;
    return i;
}

// SkipPlainTags a tag at a time.
size_t SkipByTags(const unsigned char *p, size_t n, size_t maxTag)
{
    size_t i = 0;
    for (;;) {
        while (i < n && p[i] != '<')
            i++;
        if (i == n)
            return n;
        size_t span = n - i < maxTag ? n - i : maxTag, first;
        size_t k = TagEndByBytes(p + i + 1, span - 1, &first);
        if (k == span - 1 || first < k)
            return i;
        i += k + 2;
    }
}

int32_t FindTokenByBytes(const string &s, const char *token)
{
    int32_t n = (int32_t)strlen(token);
    if ((int32_t)s.size() < n + 3)
        return -1;
    for (int32_t i = 0; i + n <= (int32_t)s.size(); i++) {
        int32_t k = 0;
        while (k < n && toupper((unsigned char)s[i + k]) == toupper((unsigned char)token[k]))
            k++;
        if (k == n)
            return i + n;
    }
    return -1;
}

// One text through every scan; `where` names it in failures.
void CheckScans(const BytePairs &set, const string &text, const string &where)
{
    // A '<' before the text (FindTagEnd reads p[-1]) and a byte after it
    // (FindFoldedPair reads p[n]).
    string buffer = "<" + text + "!";
    const unsigned char *p = (const unsigned char *)buffer.data() + 1;
    size_t n = text.size();

    size_t first, want;
    size_t k = FindTagEnd(&set, p, n, &first);
    ASSERT_EQ(TagEndByBytes(p, n, &want), k) << where;
    ASSERT_EQ(want, first) << where;

    for (size_t maxTag : {(size_t)3, (size_t)20, (size_t)4096})
        ASSERT_EQ(SkipByTags(p, n, maxTag), SkipPlainTags(&set, p, n, maxTag)) << where;

    unsigned pairs = 0, which;
    for (size_t i = 1; i < n; i++)
        if (IsPair(p[i - 1], p[i], &which))
            pairs |= which;
    ASSERT_EQ(pairs, PairsIn(&set, p, n)) << where;

    size_t at = 0;
    while (at < n && !((p[at] | 0x20) == 'y' && (p[at + 1] | 0x20) == 'l'))
        at++;
    ASSERT_EQ(at, FindFoldedPair(p, n, 'y', 'l')) << where;
    for (size_t gap : {(size_t)1, (size_t)9}) {     // reads p[0, places + gap), within p[0, n]
        size_t places = n + 1 > gap ? n + 1 - gap : 0;
        at = 0;
        while (at < places && !(p[at] == 'y' && p[at + gap] == 'l'))
            at++;
        ASSERT_EQ(at, FindSpacedPair(p, places, 'y', 'l', gap)) << where << " " << gap;
    }

    const unsigned char *gt = FindByte(p, n, '>');
    ASSERT_EQ(k == n ? nullptr : p + k, gt) << where;

    for (const char *token : {"style", "url(", "SRC", "background"})
        ASSERT_EQ(FindTokenByBytes(text, token),
                  FindToken(p, (int32_t)n, token)) << where << " " << token;
}

TEST(TagScans, SixteenBytesAtATimeAsByteByByte)
{
    BytePairs set;
    SetBytePairs(&set, kPairs);
    // Pairs and tag ends on both sides of the blocks' edges.
    const string cases[] = {
        "",
        ">",
        "td>",
        "p style=\"x\">",
        string(14, 'a') + "yl" + "e>",             // a pair across bytes 15 and 16
        string(15, 'a') + "YL>",
        string(15, 'a') + ">yl",                   // a pair after the '>' does not count
        "y" + string(30, 'L') + "l(>",
        "<a>text<b>more<i style=x><u>",
        "<kg" + string(40, ' ') + ">x<td>",
        "no tag at all, only text with yl and kg in it",
        "<unfinished tag " + string(40, 'x'),
        "STYLE=\"A\" url( BackGround SrC>",
        "st" + string(1, '\0') + "yle url(src>",
        string(63, 'a') + "yl" + string(70, 'b'),  // past the first blocks
        string(120, 'a') + "y" + string(8, 'b') + "l",
    };
    for (const string &c : cases)
        CheckScans(set, c, c);

    // Random texts of every length to 90 from bytes that matter here.
    const char alphabet[] = "<>yYlLkKgG(sStTrRcC \"=\0\xff";
    uint32_t seed = 4242;
    for (int round = 0; round < 4000; round++) {
        string text;
        size_t length = (size_t)round % 91;
        for (size_t i = 0; i < length; i++) {
            seed = seed * 1103515245u + 12345u;
            text += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
        }
        CheckScans(set, text, "round " + std::to_string(round));
    }
}

}  // namespace
