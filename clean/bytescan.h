// Scans over runs of bytes that the passes would otherwise make byte by
// byte: the words of a cell's text, and the end of a tag. Sixteen bytes at a
// time where the processor has SSE2, one at a time elsewhere; the answers
// are the same.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Word counting in text: a word is a run of bytes other than blanks (space,
// CR, LF, tab) and '<', counted at the byte that ends it. Reads p[0, n) up to
// the first '<'; answers its index, or n when there is none. Adds the words
// that end before it or at it to *words; *inWord says whether the byte
// before p[0] was a word byte and, when the answer is n, whether p[n - 1]
// is.
size_t CountWordsUntilTag(const unsigned char *p, size_t n, bool *inWord, int64_t *words);

// Word counting for the rule for any layout: a word is a run of bytes other
// than the blanks 0x09-0x0D and 0x20 and '<', and counts when it holds a
// letter, digit or byte from 0x80 up (a "wordy" byte); it is counted at its
// first wordy byte, so a word is never counted twice however the text is
// cut into calls. Reads p[0, n) up to the first '<'; answers its index, or
// n when there is none. *state carries the word the text stopped in, from
// the byte before p[0] to the byte before the answer: kTextBetweenWords,
// kTextInWord (no wordy byte yet) or kTextInWordyWord. Adds the words
// counted to *words.
enum TextState { kTextBetweenWords = 0, kTextInWord = 1, kTextInWordyWord = 2 };
size_t CountWordyWords(const unsigned char *p, size_t n, int *state, int64_t *words);

// Pairs of bytes to look for within a tag: up to three pairs, each byte
// with bit 5 set (letters folded to lower case), each byte repeated 16 times
// for the comparisons.
struct BytePairs {
    int count;
    unsigned char first[3][16];
    unsigned char second[3][16];
};
// `pairs`: a zero-terminated string of one to three pairs, e.g. "kgl(".
void SetBytePairs(BytePairs *set, const char *pairs);

// The index of the first '>' in p[0, n), or n. Sets *first to the index,
// from p[-1], of the first byte of the first two bytes in a row before it
// that, folded with bit 5, are one of the pairs, or to n when there are
// none. p[-1] must be readable (a tag's '<'): it is the first byte of the
// first pair looked at.
size_t FindTagEnd(const BytePairs *set, const unsigned char *p, size_t n, size_t *first);

// Tags as the attribute stage reads them, each from a '<' to the first '>'
// after it: passes over the text of p[0, n) and the tags in it that hold
// none of the pairs (FindTagEnd). Answers the index of the first '<' whose
// tag holds one, or whose '>' is not among the maxTag - 1 bytes after it
// (nor before p[n]); n when there is none.
size_t SkipPlainTags(const BytePairs *set, const unsigned char *p, size_t n, size_t maxTag);

// Which pairs two bytes in a row of p[0, n) make, folded with bit 5: bit k
// for pair k (a byte may be in pairs that overlap).
unsigned PairsIn(const BytePairs *set, const unsigned char *p, size_t n);

// The first index i in [0, n) where p[i] and p[i + 1], folded with bit 5,
// are a and b, or n. Reads p[0, n] (one byte past the last candidate).
size_t FindFoldedPair(const unsigned char *p, size_t n, unsigned char a, unsigned char b);

// The first index i in [0, n) where p[i] is a and p[i + gap] is b, exactly,
// or n. Reads p[0, n + gap). The first and last bytes of a text looked for
// (gap: its length less one) rule out most places at sixteen a time.
size_t FindSpacedPair(const unsigned char *p, size_t n, unsigned char a, unsigned char b, size_t gap);

// The index of the first `quote` in p[0, n), or n. Sets *marked when a byte
// before it may begin an address or a reference: ':', '&' or '(', or a '/'
// or '\' followed by '/', '\', tab, LF or CR; or an end tag or the end of a
// CDATA section: "</" or "]]".
size_t FindValueEnd(const unsigned char *p, size_t n, unsigned char quote, bool *marked);

// The first byte c in p[0, n), or null: memchr for the many searches whose
// byte is usually within a few bytes (a tag's '>', the '<' after a short
// text), which look at their first sixteen bytes in line before calling it.
static inline const unsigned char *FindByte(const unsigned char *p, size_t n, unsigned char c)
{
#ifdef __SSE2__
    if (n >= 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)p);
        unsigned hits = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8((char)c)));
        if (hits)
            return p + __builtin_ctz(hits);
        return (const unsigned char *)memchr(p + 16, c, n - 16);
    }
#endif
    return (const unsigned char *)memchr(p, c, n);
}
