// See bytescan.h. The SSE2 paths compare sixteen bytes at once and turn the
// comparisons into bit masks, bit i for byte i.
#include "clean/bytescan.h"
#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
            count += __builtin_popcount(ends & ((2u << first) - 1));
            *words += count;
            *inWord = false;
            return i + first;
        }
        count += __builtin_popcount(ends);
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

size_t FindTagEnd(const unsigned char *p, size_t n, const char *marks, bool *marked)
{
    size_t i = 0;
    bool seen = false;
    size_t nmarks = strlen(marks);
#ifdef __SSE2__
    const __m128i gt = _mm_set1_epi8('>'), bit5 = _mm_set1_epi8(0x20);
    __m128i mark[4];
    for (size_t k = 0; k < 4; k++)
        mark[k] = _mm_set1_epi8(k < nmarks ? marks[k] : marks[0]);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        unsigned ends = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, gt));
        __m128i f = _mm_or_si128(v, bit5);
        __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(f, mark[0]), _mm_cmpeq_epi8(f, mark[1])),
                                 _mm_or_si128(_mm_cmpeq_epi8(f, mark[2]), _mm_cmpeq_epi8(f, mark[3])));
        unsigned marksHere = (unsigned)_mm_movemask_epi8(m);
        if (ends) {
            unsigned first = (unsigned)__builtin_ctz(ends);
            *marked = seen || (marksHere & ((1u << first) - 1)) != 0;
            return i + first;
        }
        seen = seen || marksHere != 0;
    }
#endif
    for (; i < n; i++) {
        if (p[i] == '>')
            break;
        if (memchr(marks, p[i] | 0x20, nmarks))
            seen = true;
    }
    *marked = seen;
    return i;
}
