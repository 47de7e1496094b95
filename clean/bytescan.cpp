// See bytescan.h. The SSE2 paths compare sixteen bytes at once and turn the
// comparisons into bit masks, bit i for byte i.
#include "clean/bytescan.h"
#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Set bits of each byte value: a table, since __builtin_popcount becomes a
// library call where the processor has no instruction for it.
struct BitCounts {
    unsigned char of[256];
};

static constexpr BitCounts BuildBitCounts()
{
    BitCounts counts = {};
    for (int i = 1; i < 256; i++)
        counts.of[i] = (unsigned char)(counts.of[i >> 1] + (i & 1));
    return counts;
}

static constexpr BitCounts kBitCounts = BuildBitCounts();

static inline int CountBits16(unsigned x)
{
    return kBitCounts.of[x & 0xFF] + kBitCounts.of[(x >> 8) & 0xFF];
}

static inline bool IsBlankByte(unsigned char c)
{
    return c == ' ' || c == '\r' || c == '\n' || c == '\t';
}

size_t CountWordsUntilTag(const unsigned char *p, size_t n, bool *inWord, int64_t *words)
{
    size_t i = 0;
    unsigned previous = *inWord ? 1 : 0;
    int64_t count = 0;
#ifdef __SSE2__
    const __m128i lt = _mm_set1_epi8('<'), space = _mm_set1_epi8(' ');
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), tab = _mm_set1_epi8('\t');
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        unsigned tags = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, lt));
        __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(v, cr)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, tab)));
        unsigned word = ~((unsigned)_mm_movemask_epi8(blank) | tags) & 0xFFFF;
        // A word ends at each byte that is not a word byte and follows one.
        unsigned ends = ~word & ((word << 1) | previous) & 0xFFFF;
        if (tags) {
            unsigned first = (unsigned)__builtin_ctz(tags);
            count += CountBits16(ends & ((2u << first) - 1));
            *words += count;
            *inWord = false;
            return i + first;
        }
        count += CountBits16(ends);
        previous = word >> 15;
    }
#endif
    bool in = previous != 0;
    for (; i < n; i++) {
        unsigned char c = p[i];
        bool word = c != '<' && !IsBlankByte(c);
        count += in && !word;
        in = word;
        if (c == '<') {
            *words += count;
            *inWord = false;
            return i;
        }
    }
    *words += count;
    *inWord = in;
    return n;
}

// Bit i of the masks below stands for byte i of a 16-byte block: N its word
// bytes (neither blank nor '<'), W its wordy bytes (a subset of N). The
// words counted in the block are its wordy bytes that come first in their
// word: a W byte right after a byte outside N, or right after a run of word
// bytes that are not wordy (P = N less W) that itself starts after a byte
// outside N. The carry of adding the starts of such runs to P lands exactly
// on the byte after each of them. `fresh` says whether a word that runs on
// from the block before may still count (it has no wordy byte yet).
static inline unsigned FirstWordyBytes(unsigned n, unsigned w, bool fresh)
{
    unsigned before = ((~n << 1) | (fresh ? 1u : 0u)) & 0xFFFF;   // the byte before is outside N
    unsigned p = n & ~w;
    unsigned landed = (p + (p & before)) & ~p;
    return w & (before | landed);
}

static inline bool IsAnyLayoutBlank(unsigned char c)
{
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

static inline bool IsWordyByte(unsigned char c)
{
    return c >= 0x80 || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

size_t CountWordyWords(const unsigned char *p, size_t n, int *state, int64_t *words)
{
    size_t i = 0;
    int st = *state;
    int64_t count = 0;
#ifdef __SSE2__
    const __m128i lt = _mm_set1_epi8('<'), space = _mm_set1_epi8(' ');
    const __m128i nine = _mm_set1_epi8(9), four = _mm_set1_epi8(4), zero = _mm_set1_epi8('0');
    const __m128i digits = _mm_set1_epi8(9), bit5 = _mm_set1_epi8(0x20), a = _mm_set1_epi8('a');
    const __m128i letters = _mm_set1_epi8(25);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        // Bytes in a range [lo, lo + k]: v - lo (wrapping) is at most k.
        __m128i c = _mm_sub_epi8(v, nine);
        __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(_mm_min_epu8(c, four), c));
        __m128i d = _mm_sub_epi8(v, zero);
        __m128i l = _mm_sub_epi8(_mm_or_si128(v, bit5), a);
        __m128i alnum = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(d, digits), d),
                                     _mm_cmpeq_epi8(_mm_min_epu8(l, letters), l));
        unsigned tags = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, lt));
        unsigned wordBytes = ~((unsigned)_mm_movemask_epi8(blank) | tags) & 0xFFFF;
        unsigned wordy = ((unsigned)_mm_movemask_epi8(alnum) | (unsigned)_mm_movemask_epi8(v)) & wordBytes;
        unsigned upTo = tags ? (1u << __builtin_ctz(tags)) - 1 : 0xFFFF;    // the bytes before a '<'
        wordBytes &= upTo;
        wordy &= upTo;
        unsigned first = FirstWordyBytes(wordBytes, wordy, st != kTextInWordyWord);
        count += CountBits16(first);
        // The word the block stops in: its bytes after the last byte
        // outside N, or all of them, going on from the block before.
        unsigned outside = ~wordBytes & upTo;
        if (outside) {
            unsigned lastWord = upTo & ~((2u << (31 - __builtin_clz(outside))) - 1);
            st = lastWord == 0 ? kTextBetweenWords : (wordy & lastWord) ? kTextInWordyWord : kTextInWord;
        } else if (wordy) {
            st = kTextInWordyWord;
        } else if (upTo && st == kTextBetweenWords) {
            st = kTextInWord;
        }
        if (tags) {
            *words += count;
            *state = st;
            return i + (size_t)__builtin_ctz(tags);
        }
    }
#endif
    for (; i < n; i++) {
        unsigned char c = p[i];
        if (c == '<')
            break;
        if (IsAnyLayoutBlank(c)) {
            st = kTextBetweenWords;
        } else if (IsWordyByte(c)) {
            count += st != kTextInWordyWord;
            st = kTextInWordyWord;
        } else if (st == kTextBetweenWords) {
            st = kTextInWord;
        }
    }
    *words += count;
    *state = st;
    return i;
}

void SetBytePairs(BytePairs *set, const char *pairs)
{
    size_t n = strlen(pairs) / 2;
    set->count = n < 3 ? (int)n : 3;
    for (int k = 0; k < 3; k++) {
        // Unused slots repeat the first pair, so comparing with them adds nothing.
        int j = k < set->count ? k : 0;
        memset(set->first[k], pairs[2 * j], 16);
        memset(set->second[k], pairs[2 * j + 1], 16);
    }
}

// The first pair of set that the bytes a, b make, folded, or -1.
static inline int PairAt(const BytePairs *set, unsigned char a, unsigned char b)
{
    a |= 0x20;
    b |= 0x20;
    for (int k = 0; k < set->count; k++)
        if (a == set->first[k][0] && b == set->second[k][0])
            return k;
    return -1;
}

// FindTagEnd, in line in the loops that call it tag after tag.
static inline size_t TagEnd(const BytePairs *set, const unsigned char *p, size_t n, size_t *first)
{
    size_t i = 0;
    *first = n;
    const unsigned char *before = p - 1;    // before[i] is the byte ahead of p[i]
#ifdef __SSE2__
    const __m128i gt = _mm_set1_epi8('>'), bit5 = _mm_set1_epi8(0x20);
    const __m128i f0 = _mm_loadu_si128((const __m128i *)set->first[0]);
    const __m128i f1 = _mm_loadu_si128((const __m128i *)set->first[1]);
    const __m128i f2 = _mm_loadu_si128((const __m128i *)set->first[2]);
    const __m128i s0 = _mm_loadu_si128((const __m128i *)set->second[0]);
    const __m128i s1 = _mm_loadu_si128((const __m128i *)set->second[1]);
    const __m128i s2 = _mm_loadu_si128((const __m128i *)set->second[2]);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        unsigned ends = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, gt));
        __m128i f = _mm_or_si128(v, bit5);
        __m128i b = _mm_or_si128(_mm_loadu_si128((const __m128i *)(before + i)), bit5);
        __m128i m = _mm_and_si128(_mm_cmpeq_epi8(b, f0), _mm_cmpeq_epi8(f, s0));
        m = _mm_or_si128(m, _mm_and_si128(_mm_cmpeq_epi8(b, f1), _mm_cmpeq_epi8(f, s1)));
        m = _mm_or_si128(m, _mm_and_si128(_mm_cmpeq_epi8(b, f2), _mm_cmpeq_epi8(f, s2)));
        unsigned pairsHere = (unsigned)_mm_movemask_epi8(m);
        if (ends) {
            unsigned at = (unsigned)__builtin_ctz(ends);
            pairsHere &= (1u << at) - 1;
            if (pairsHere && *first == n)
                *first = i + (unsigned)__builtin_ctz(pairsHere);
            return i + at;
        }
        if (pairsHere && *first == n)
            *first = i + (unsigned)__builtin_ctz(pairsHere);
    }
#endif
    for (; i < n; i++) {
        if (p[i] == '>')
            break;
        if (*first == n && PairAt(set, before[i], p[i]) >= 0)
            *first = i;
    }
    return i;
}

size_t FindTagEnd(const BytePairs *set, const unsigned char *p, size_t n, size_t *first)
{
    return TagEnd(set, p, n, first);
}

size_t SkipPlainTags(const BytePairs *set, const unsigned char *p, size_t n, size_t maxTag)
{
    size_t i = 0;
    for (;;) {
        const unsigned char *lt = FindByte(p + i, n - i, '<');
        if (!lt)
            return n;
        size_t at = (size_t)(lt - p);
        size_t span = n - at < maxTag ? n - at : maxTag;
        size_t first;
        size_t k = TagEnd(set, lt + 1, span - 1, &first);
        if (k == span - 1 || first < k)
            return at;
        i = at + k + 2;
    }
}

unsigned PairsIn(const BytePairs *set, const unsigned char *p, size_t n)
{
    unsigned found = 0;
    size_t i = 1;
#ifdef __SSE2__
    const __m128i bit5 = _mm_set1_epi8(0x20);
    for (; i + 16 <= n; i += 16) {
        __m128i f = _mm_or_si128(_mm_loadu_si128((const __m128i *)(p + i)), bit5);
        __m128i b = _mm_or_si128(_mm_loadu_si128((const __m128i *)(p + i - 1)), bit5);
        for (int k = 0; k < set->count; k++) {
            __m128i m = _mm_and_si128(
                _mm_cmpeq_epi8(b, _mm_loadu_si128((const __m128i *)set->first[k])),
                _mm_cmpeq_epi8(f, _mm_loadu_si128((const __m128i *)set->second[k])));
            if (_mm_movemask_epi8(m))
                found |= 1u << k;
        }
    }
#endif
    for (; i < n; i++) {
        int k = PairAt(set, p[i - 1], p[i]);
        if (k >= 0)
            found |= 1u << k;
    }
    return found;
}

size_t FindFoldedPair(const unsigned char *p, size_t n, unsigned char a, unsigned char b)
{
    size_t i = 0;
#ifdef __SSE2__
    const __m128i bit5 = _mm_set1_epi8(0x20);
    const __m128i fa = _mm_set1_epi8((char)a), fb = _mm_set1_epi8((char)b);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_or_si128(_mm_loadu_si128((const __m128i *)(p + i)), bit5);
        __m128i w = _mm_or_si128(_mm_loadu_si128((const __m128i *)(p + i + 1)), bit5);
        unsigned hits = (unsigned)_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(v, fa), _mm_cmpeq_epi8(w, fb)));
        if (hits)
            return i + (unsigned)__builtin_ctz(hits);
    }
#endif
    for (; i < n; i++)
        if ((p[i] | 0x20) == a && (p[i + 1] | 0x20) == b)
            break;
    return i;
}

size_t FindSpacedPair(const unsigned char *p, size_t n, unsigned char a, unsigned char b, size_t gap)
{
    size_t i = 0;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi8((char)a), vb = _mm_set1_epi8((char)b);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        __m128i w = _mm_loadu_si128((const __m128i *)(p + i + gap));
        unsigned hits = (unsigned)_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(w, vb)));
        if (hits)
            return i + (unsigned)__builtin_ctz(hits);
    }
#endif
    for (; i < n; i++)
        if (p[i] == a && p[i + gap] == b)
            break;
    return i;
}

static inline bool IsMarkByte(unsigned char c)
{
    return c == ':' || c == '&' || c == '(';
}

static inline bool IsSlashByte(unsigned char c)
{
    return c == '/' || c == '\\';
}

static inline bool FollowsSlash(unsigned char c)
{
    return c == '/' || c == '\\' || c == '\t' || c == '\n' || c == '\r';
}

size_t FindValueEnd(const unsigned char *p, size_t n, unsigned char quote, bool *marked)
{
    size_t i = 0;
    bool seen = false;
#ifdef __SSE2__
    const __m128i q = _mm_set1_epi8((char)quote), colon = _mm_set1_epi8(':');
    const __m128i amp = _mm_set1_epi8('&'), paren = _mm_set1_epi8('(');
    const __m128i slash = _mm_set1_epi8('/'), backslash = _mm_set1_epi8('\\');
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i lessThan = _mm_set1_epi8('<'), bracket = _mm_set1_epi8(']');
    // Each block also reads the byte after it, for the slashes.
    for (; i + 17 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        __m128i w = _mm_loadu_si128((const __m128i *)(p + i + 1));
        __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, colon), _mm_cmpeq_epi8(v, amp)),
                                 _mm_cmpeq_epi8(v, paren));
        __m128i sl = _mm_or_si128(_mm_cmpeq_epi8(v, slash), _mm_cmpeq_epi8(v, backslash));
        __m128i nx = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, slash), _mm_cmpeq_epi8(w, backslash)),
                                  _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, tab), _mm_cmpeq_epi8(w, lf)),
                                               _mm_cmpeq_epi8(w, cr)));
        m = _mm_or_si128(m, _mm_and_si128(sl, nx));
        // "</" and "]]": the end of raw text or a CDATA section may stand in a value.
        __m128i lt = _mm_and_si128(_mm_cmpeq_epi8(v, lessThan), _mm_cmpeq_epi8(w, slash));
        __m128i rb = _mm_and_si128(_mm_cmpeq_epi8(v, bracket), _mm_cmpeq_epi8(w, bracket));
        m = _mm_or_si128(m, _mm_or_si128(lt, rb));
        unsigned marks = (unsigned)_mm_movemask_epi8(m);
        unsigned ends = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, q));
        if (ends) {
            unsigned at = (unsigned)__builtin_ctz(ends);
            *marked = seen || (marks & ((1u << at) - 1)) != 0;
            return i + at;
        }
        seen = seen || marks != 0;
    }
#endif
    for (; i < n; i++) {
        unsigned char c = p[i];
        if (c == quote)
            break;
        if (IsMarkByte(c) || (IsSlashByte(c) && i + 1 < n && FollowsSlash(p[i + 1])))
            seen = true;
        if (i + 1 < n && ((c == '<' && p[i + 1] == '/') || (c == ']' && p[i + 1] == ']')))
            seen = true;
    }
    *marked = seen;
    return i;
}
