// Times SHA-1 over a buffer of SIZE megabytes (default 64), fed whole and
// in pieces of 1000 bytes at an odd address; prints MB/s of each, the
// best of three.
//   sha1bench [SIZE]
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <vector>
#include "clean/sha1.h"

static double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// Seconds to hash n bytes at p in pieces of `piece` bytes.
static double Time(const unsigned char *p, size_t n, size_t piece, unsigned char digest[kSha1Size])
{
    double t0 = Now();
    Sha1 s;
    Sha1Start(&s);
    for (size_t at = 0; at < n; at += piece)
        Sha1Add(&s, p + at, n - at < piece ? n - at : piece);
    Sha1Finish(&s, digest);
    return Now() - t0;
}

int main(int argc, char **argv)
{
    size_t mb = argc > 1 ? (size_t)atol(argv[1]) : 64;
    size_t n = mb << 20;
    std::vector<unsigned char> data(n + 1);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(i * 2654435761u >> 13);
    static const struct { const char *name; size_t offset, piece; } kRuns[] = {
        {"whole", 0, (size_t)-1},
        {"1000-byte pieces, odd address", 1, 1000},
    };
    for (const auto &run : kRuns) {
        double best = 1e9;
        unsigned char d[kSha1Size];
        for (int i = 0; i < 3; i++) {
            double t = Time(data.data() + run.offset, n, run.piece, d);
            best = t < best ? t : best;
        }
        printf("sha1 %-30s %8.1f MB/s  (%02x%02x%02x%02x...)\n", run.name, (double)n / 1e6 / best, d[0], d[1],
               d[2], d[3]);
    }
    return 0;
}
