/* The case-blind comparison of tag text, for the Wine tests of the ANSI code
   page. Reads pairs of hex strings from the file named as its argument, one
   pair a line ("TEXT TOKEN", the same number of bytes), and prints:

       ACP acp text-code-page
       <TextEqualsIgnoreCase 0|1> <CompareStringA of the thread locale 0|1>

   one line per pair. Built twice: wtcompare.exe carries the program's own
   manifest (UTF-8 as the ANSI code page), wtcompare_ansi.exe none, so that
   the legacy code page of the Wine locale is in effect. */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "platform/compare.h"

static int unhex(const char *hex, unsigned char *out, int size)
{
    int n = 0;
    for (; hex[0] && hex[1] && n < size; hex += 2) {
        unsigned v;
        if (sscanf(hex, "%2x", &v) != 1)
            return -1;
        out[n++] = (unsigned char)v;
    }
    return n;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    FILE *f = fopen(argv[1], "r");
    if (!f)
        return 2;
    printf("ACP %u\n", GetACP());
    char line[1024], a[512], b[512];
    while (fgets(line, sizeof line, f)) {
        if (sscanf(line, "%511s %511s", a, b) != 2)
            continue;
        unsigned char text[256];
        char token[257];
        int n = unhex(a, text, sizeof text);
        int m = unhex(b, (unsigned char *)token, sizeof token - 1);
        if (n < 0 || n != m)
            return 3;
        token[m] = 0;
        bool mine = TextEqualsIgnoreCase(text, token, n);
        bool system = CompareStringA(ThreadLocale, NORM_IGNORECASE, (const char *)text, n, token,
                                     n) == CSTR_EQUAL;
        printf("%d %d\n", mine ? 1 : 0, system ? 1 : 0);
    }
    fclose(f);
    return 0;
}
