// SHA-1 as FIPS 180-4 states it: 64-byte blocks, eighty rounds in four
// groups of twenty, the length in bits at the end, big-endian throughout.
// The rounds are written out one by one: the five working words never
// move, each round names them in its own order instead, and the message
// schedule lives in a ring of sixteen words, each made just before its use.
// Where the processor has SHA instructions (asked once, at the first block)
// the blocks go through them instead: the same digest at a fifth of the time.
#include "clean/sha1.h"
#include <string.h>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define SHA1_PROCESSOR_ROUNDS 1
#endif

static inline uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// A big-endian word from any address: compilers make this one load and a
// byte swap, with no alignment asked of p.
static inline uint32_t LoadBig(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

// The four round functions, and the schedule word of round i (i >= 16)
// put in the ring where word i - 16 was.
#define SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
#define SHA1_NEXT(i) \
    (w[(i) & 15] = Rotate(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))

// One round: e takes the new word, b turns by 30; the caller turns the
// names (a b c d e) -> (e a b c d) for the next round.
#define SHA1_ROUND(a, b, c, d, e, f, k, word)                   \
    do {                                                        \
        (e) += Rotate((a), 5) + f((b), (c), (d)) + (k) + (word); \
        (b) = Rotate((b), 30);                                  \
    } while (0)

#define SHA1_R0(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F1, 0x5A827999u, w[i] = LoadBig(p + 4 * (i)))
#define SHA1_R1(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F1, 0x5A827999u, SHA1_NEXT(i))
#define SHA1_R2(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F2, 0x6ED9EBA1u, SHA1_NEXT(i))
#define SHA1_R3(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F3, 0x8F1BBCDCu, SHA1_NEXT(i))
#define SHA1_R4(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F2, 0xCA62C1D6u, SHA1_NEXT(i))

// Five rounds of one kind from round i: after five the names are back in
// their first order.
#define SHA1_FIVE(R, i)           \
    do {                          \
        R(a, b, c, d, e, (i));    \
        R(e, a, b, c, d, (i) + 1); \
        R(d, e, a, b, c, (i) + 2); \
        R(c, d, e, a, b, (i) + 3); \
        R(b, c, d, e, a, (i) + 4); \
    } while (0)

// n whole blocks from p, which need not be aligned.
static void Sha1BlocksPortable(uint32_t h[5], const unsigned char *p, size_t n)
{
    uint32_t w[16];
    for (; n > 0; n--, p += 64) {
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        SHA1_FIVE(SHA1_R0, 0);
        SHA1_FIVE(SHA1_R0, 5);
        SHA1_FIVE(SHA1_R0, 10);
        SHA1_R0(a, b, c, d, e, 15);
        SHA1_R1(e, a, b, c, d, 16);
        SHA1_R1(d, e, a, b, c, 17);
        SHA1_R1(c, d, e, a, b, 18);
        SHA1_R1(b, c, d, e, a, 19);
        SHA1_FIVE(SHA1_R2, 20);
        SHA1_FIVE(SHA1_R2, 25);
        SHA1_FIVE(SHA1_R2, 30);
        SHA1_FIVE(SHA1_R2, 35);
        SHA1_FIVE(SHA1_R3, 40);
        SHA1_FIVE(SHA1_R3, 45);
        SHA1_FIVE(SHA1_R3, 50);
        SHA1_FIVE(SHA1_R3, 55);
        SHA1_FIVE(SHA1_R4, 60);
        SHA1_FIVE(SHA1_R4, 65);
        SHA1_FIVE(SHA1_R4, 70);
        SHA1_FIVE(SHA1_R4, 75);
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}
#undef SHA1_FIVE
#undef SHA1_R0
#undef SHA1_R1
#undef SHA1_R2
#undef SHA1_R3
#undef SHA1_R4
#undef SHA1_ROUND
#undef SHA1_NEXT
#undef SHA1_F1
#undef SHA1_F2
#undef SHA1_F3

#ifdef SHA1_PROCESSOR_ROUNDS
// The same blocks with the SHA instructions. The state is held as ABCD in
// one vector (A in its high word) and E in the high word of another; the
// schedule is four vectors of four words, vector i made from i - 4 .. i - 1
// (msg1 gives w[t-16] ^ w[t-14], the xor adds w[t-8], msg2 adds w[t-3] and
// the turn), each just before the four rounds that take it. Every four
// rounds E comes from the A of four rounds before (nexte).
#define SHA1_LOAD(i) (m[i] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(p + 16 * (i))), order))
#define SHA1_MAKE(i)                                                                                         \
    (m[(i)&3] = _mm_sha1msg2_epu32(                                                                          \
         _mm_xor_si128(_mm_sha1msg1_epu32(m[(i)&3], m[((i) + 1) & 3]), m[((i) + 2) & 3]), m[((i) + 3) & 3]))
#define SHA1_FOUR(i, word)                                                                                   \
    do {                                                                                                     \
        __m128i e4 = _mm_sha1nexte_epu32(e, (word));                                                         \
        e = abcd;                                                                                            \
        abcd = _mm_sha1rnds4_epu32(abcd, e4, (i) / 5);                                                       \
    } while (0)

__attribute__((target("sha,ssse3,sse4.1"))) static void Sha1BlocksProcessor(uint32_t h[5],
                                                                            const unsigned char *p, size_t n)
{
    const __m128i order = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)h), 0x1B);
    __m128i eStart = _mm_set_epi32((int)h[4], 0, 0, 0);
    for (; n > 0; n--, p += 64) {
        __m128i abcdSaved = abcd, eSaved = eStart, m[4], e;
        // Rounds 0-3 add E itself; nexte would turn it.
        e = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(eStart, SHA1_LOAD(0)), 0);
        SHA1_FOUR(1, SHA1_LOAD(1));
        SHA1_FOUR(2, SHA1_LOAD(2));
        SHA1_FOUR(3, SHA1_LOAD(3));
        SHA1_FOUR(4, SHA1_MAKE(4));
        SHA1_FOUR(5, SHA1_MAKE(5));
        SHA1_FOUR(6, SHA1_MAKE(6));
        SHA1_FOUR(7, SHA1_MAKE(7));
        SHA1_FOUR(8, SHA1_MAKE(8));
        SHA1_FOUR(9, SHA1_MAKE(9));
        SHA1_FOUR(10, SHA1_MAKE(10));
        SHA1_FOUR(11, SHA1_MAKE(11));
        SHA1_FOUR(12, SHA1_MAKE(12));
        SHA1_FOUR(13, SHA1_MAKE(13));
        SHA1_FOUR(14, SHA1_MAKE(14));
        SHA1_FOUR(15, SHA1_MAKE(15));
        SHA1_FOUR(16, SHA1_MAKE(16));
        SHA1_FOUR(17, SHA1_MAKE(17));
        SHA1_FOUR(18, SHA1_MAKE(18));
        SHA1_FOUR(19, SHA1_MAKE(19));
        eStart = _mm_sha1nexte_epu32(e, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128((__m128i *)h, _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = (uint32_t)_mm_extract_epi32(eStart, 3);
}
#undef SHA1_LOAD
#undef SHA1_MAKE
#undef SHA1_FOUR

static bool ProcessorHasSha()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1))
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29));
}
#endif

// 1 the processor's rounds, 0 the portable ones, -1 not yet asked.
static int sha1Processor = -1;

void Sha1UseProcessorRounds(bool use)
{
#ifdef SHA1_PROCESSOR_ROUNDS
    sha1Processor = use && ProcessorHasSha();
#else
    (void)use;
    sha1Processor = 0;
#endif
}

bool Sha1ProcessorRounds()
{
#ifdef SHA1_PROCESSOR_ROUNDS
    if (__atomic_load_n(&sha1Processor, __ATOMIC_RELAXED) < 0)
        __atomic_store_n(&sha1Processor, (int)ProcessorHasSha(), __ATOMIC_RELAXED);
#endif
    return __atomic_load_n(&sha1Processor, __ATOMIC_RELAXED) == 1;
}

static void Sha1Blocks(uint32_t h[5], const unsigned char *p, size_t n)
{
    if (n == 0)
        return;
#ifdef SHA1_PROCESSOR_ROUNDS
    int use = __atomic_load_n(&sha1Processor, __ATOMIC_RELAXED);
    if (use < 0) {
        use = ProcessorHasSha();
        __atomic_store_n(&sha1Processor, use, __ATOMIC_RELAXED);
    }
    if (use) {
        Sha1BlocksProcessor(h, p, n);
        return;
    }
#endif
    Sha1BlocksPortable(h, p, n);
}

void Sha1Start(Sha1 *s)
{
    static const uint32_t kStart[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    memcpy(s->h, kStart, sizeof kStart);
    s->length = 0;
}

void Sha1Add(Sha1 *s, const void *data, size_t n)
{
    const unsigned char *p = (const unsigned char *)data;
    size_t have = (size_t)(s->length % 64);
    s->length += n;
    if (have) {
        size_t take = n < 64 - have ? n : 64 - have;
        memcpy(s->block + have, p, take);
        p += take;
        n -= take;
        if (have + take < 64)
            return;
        Sha1Blocks(s->h, s->block, 1);
    }
    Sha1Blocks(s->h, p, n / 64);
    memcpy(s->block, p + n / 64 * 64, n % 64);
}

void Sha1Finish(Sha1 *s, unsigned char digest[kSha1Size])
{
    uint64_t bits = s->length * 8;
    unsigned char pad[72] = {0x80};
    size_t have = (size_t)(s->length % 64);
    size_t padLength = (have < 56 ? 56 : 120) - have;
    for (int i = 0; i < 8; i++)
        pad[padLength + i] = (unsigned char)(bits >> (56 - 8 * i));
    Sha1Add(s, pad, padLength + 8);
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 4; j++)
            digest[4 * i + j] = (unsigned char)(s->h[i] >> (24 - 8 * j));
}

void Sha1Of(const void *data, size_t n, unsigned char digest[kSha1Size])
{
    Sha1 s;
    Sha1Start(&s);
    Sha1Add(&s, data, n);
    Sha1Finish(&s, digest);
}

void Sha1Base32(const unsigned char digest[kSha1Size], char out[kSha1Base32Size])
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    int bits = 0;
    uint32_t held = 0;                  // the bits not yet written: `bits` of them
    size_t o = 0;
    for (int i = 0; i < kSha1Size; i++) {
        held = ((held << 8) | digest[i]) & 0x1FFF;
        bits += 8;
        while (bits >= 5) {
            out[o++] = kLetters[(held >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    out[o] = 0;
}
