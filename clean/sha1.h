// SHA-1 over bytes given in pieces, and the base32 text (RFC 4648, upper
// case, no padding needed for 20 bytes) that archive digests are written in.
// SHA-1 here names records, it guards nothing.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct Sha1 {
    uint32_t h[5];
    uint64_t length;            // bytes taken so far
    unsigned char block[64];    // the unfinished block: length % 64 bytes of it
};

enum { kSha1Size = 20, kSha1Base32Size = 33 };  // 32 letters and a zero

void Sha1Start(Sha1 *s);
void Sha1Add(Sha1 *s, const void *data, size_t n);
void Sha1Finish(Sha1 *s, unsigned char digest[kSha1Size]);
// The digest of n bytes at once.
void Sha1Of(const void *data, size_t n, unsigned char digest[kSha1Size]);
// Whether blocks go through the processor's SHA instructions where it has
// them (the default) or always through the portable rounds (tests, to
// check one against the other); and whether they are in use.
void Sha1UseProcessorRounds(bool use);
bool Sha1ProcessorRounds();
// The 32 base32 letters of a digest, and a zero.
void Sha1Base32(const unsigned char digest[kSha1Size], char out[kSha1Base32Size]);
