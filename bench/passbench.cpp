// Times one stage of a clean alone, or the whole chain, over a file:
//   passbench STAGE FILE      STAGE: copy, elements, attributes, extract,
//                             anylayout, clean, memory
// with the default switches, into an anonymous temporary file; `memory` is
// the whole chain from memory to memory (CleanBytes), the page read into
// memory before the clock starts. Prints MB/s.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include "app/options.h"
#include "clean/anylayout.h"
#include "clean/clean.h"
#include "platform/file.h"

static ByteStream In, Out;

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr,
                "usage: passbench copy|elements|attributes|extract|anylayout|clean|memory FILE\n");
        return 2;
    }
    int page = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (page < 0 || !StreamCreateTemp(&Out)) {
        fprintf(stderr, "passbench: cannot open %s\n", argv[2]);
        return 1;
    }
    StreamAttach(&In, page);
    CleanSwitches sw = SwitchesFromWord(kDefaultOptions);
    const char *stage = argv[1];
    ByteStream pageInMemory;
    if (!strcmp(stage, "memory")) {
        StreamOpenBuffer(&pageInMemory);
        CopyStream(&In, &pageInMemory);
        StreamFlush(&pageInMemory);
        StreamClose(&Out);
        StreamOpenBuffer(&Out);
    }
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    if (!strcmp(stage, "copy"))
        CopyStream(&In, &Out);
    else if (!strcmp(stage, "elements"))
        ElementRemovalPass(&sw, &In, &Out);
    else if (!strcmp(stage, "attributes"))
        AttributePass(&sw, &In, &Out);
    else if (!strcmp(stage, "extract"))
        ExtractMainPart(&sw, &In, &Out, kNoMemoryLimit);
    else if (!strcmp(stage, "anylayout"))
        AnyLayoutExtract(false, &In, &Out);
    else if (!strcmp(stage, "clean"))
        CleanStream(&sw, &In, &Out, nullptr);
    else if (!strcmp(stage, "memory"))
        CleanBytes(&sw, StreamMemoryData(&pageInMemory), StreamMemorySize(&pageInMemory), &Out,
                   kNoMemoryLimit, nullptr);
    else
        return 2;
    StreamFlush(&Out);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double secs = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
    // The page's size: a stage that reads its input twice need not end at
    // its end.
    struct stat st;
    double mb = (fstat((int)In.file, &st) == 0 ? (double)st.st_size : (double)StreamTell(&In)) / 1e6;
    printf("%s %.1f MB/s (%.1f MB in %.3f s)\n", stage, mb / secs, mb, secs);
    return 0;
}
