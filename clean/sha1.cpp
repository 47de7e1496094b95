// SHA-1 as FIPS 180-4 states it: 64-byte blocks, eighty rounds in four
// groups of twenty, the length in bits at the end, big-endian throughout.
#include "clean/sha1.h"
#include <string.h>

static inline uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One round: the five words move along, the new first word made of the
// old ones, the round group's function f and constant k, and the schedule.
#define SHA1_ROUND(f, k)                                   \
    do {                                                   \
        uint32_t t = Rotate(a, 5) + (f) + e + (k) + w[i];  \
        e = d;                                             \
        d = c;                                             \
        c = Rotate(b, 30);                                 \
        b = a;                                             \
        a = t;                                             \
    } while (0)

static void Sha1Block(uint32_t h[5], const unsigned char *p)
{
    uint32_t w[80];
    for (int i = 0; i < 16; i++)
        w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 | (uint32_t)p[4 * i + 2] << 8 |
               p[4 * i + 3];
    for (int i = 16; i < 80; i++)
        w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    int i = 0;
    for (; i < 20; i++)
        SHA1_ROUND(d ^ (b & (c ^ d)), 0x5A827999u);
    for (; i < 40; i++)
        SHA1_ROUND(b ^ c ^ d, 0x6ED9EBA1u);
    for (; i < 60; i++)
        SHA1_ROUND((b & c) | (d & (b | c)), 0x8F1BBCDCu);
    for (; i < 80; i++)
        SHA1_ROUND(b ^ c ^ d, 0xCA62C1D6u);
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}
#undef SHA1_ROUND

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
        Sha1Block(s->h, s->block);
    }
    for (; n >= 64; p += 64, n -= 64)
        Sha1Block(s->h, p);
    memcpy(s->block, p, n);
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
