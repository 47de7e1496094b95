// Cleans each page named on the command line under every word of the
// fourteen switches the passes read (0 to 16383) in memory and prints one line per page and
// word: the word in hex and a 64-bit FNV-1a hash of the cleaned page. Used
// by tools/same-generated.sh to compare two revisions. Built with
// CLEAN_BYTES it cleans with CleanBytes (no temporary file) rather than
// CleanStream, so that the two can be compared the same way.
#include <stdio.h>
#include <string>
#include "app/options.h"
#include "clean/clean.h"

static std::string ReadAll(const char *path)
{
    std::string s;
    FILE *f = fopen(path, "rb");
    if (!f)
        return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

static uint64_t Hash(const unsigned char *p, size_t n)
{
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; i++)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::string page = ReadAll(argv[i]);
        for (uint32_t word = 0; word <= kPassSwitchMask; word++) {
            CleanSwitches sw = SwitchesFromWord(word);
            ByteStream out;
            StreamOpenBuffer(&out);
#ifdef CLEAN_BYTES
            CleanStatus status =
                CleanBytes(&sw, page.data(), page.size(), &out, kNoMemoryLimit, nullptr);
#else
            ByteStream in;
            StreamOpenMemory(&in, page.data(), page.size());
            CleanStatus status = CleanStream(&sw, &in, &out, nullptr);
#endif
            printf("%s %04X %d %016llx\n", argv[i], word, status,
                   (unsigned long long)Hash(StreamMemoryData(&out), StreamMemorySize(&out)));
            StreamClose(&out);
        }
    }
    return 0;
}
