// Times one stage of the cleaning run alone over a file: passbench STAGE FILE
// STAGE is copy, elements, attributes, extract or anylayout. Prints MB/s.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include "app/options.h"
#include "clean/anylayout.h"
#include "clean/fs.h"
#include "clean/passes.h"
#include "clean/report.h"

void ShowMessage(MessageKind, int, const char *, int) {}
void NotifyRunStarted() {}

static ByteStream In, Out;

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: passbench copy|elements|attributes|extract|anylayout FILE\n");
        return 2;
    }
    if (!OpenPageForReading(argv[2], &In, nullptr) || !CreateTempStream(&Out)) {
        fprintf(stderr, "passbench: cannot open %s\n", argv[2]);
        return 1;
    }
    CaptureRunFlags(kDefaultOptions);
    DeriveElementFlags();
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    const char *stage = argv[1];
    if (!strcmp(stage, "copy"))
        CopyStream(&In, &Out);
    else if (!strcmp(stage, "elements"))
        ElementRemovalPass(&In, &Out);
    else if (!strcmp(stage, "attributes"))
        AttributePass(&In, &Out);
    else if (!strcmp(stage, "extract"))
        MainPartExtractor(true, false, &In, &Out);
    else if (!strcmp(stage, "anylayout"))
        AnyLayoutExtract(false, &In, &Out);
    else
        return 2;
    StreamFlush(&Out);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double secs = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
    struct stat st;
    stat(argv[2], &st);
    double mb = (double)st.st_size / 1e6;
    printf("%s %.1f MB/s (%.1f MB in %.3f s)\n", stage, mb / secs, mb, secs);
    return 0;
}
