// SHA-1 as FIPS 180-4 states it: 64-byte blocks, eighty rounds in four
// groups of twenty, the length in bits at the end, big-endian throughout.
// The rounds are written out one by one: the five working words never
// move, each round names them in its own order instead, and the message
// schedule lives in a ring of sixteen words, each made just before its use.
#include "clean/sha1.h"
#include <string.h>

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
static void Sha1Blocks(uint32_t h[5], const unsigned char *p, size_t n)
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
