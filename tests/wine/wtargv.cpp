/* The command line split two ways, for the Wine test of SplitCommandLine:
   reads hex-encoded tails from the file named as its argument, one a line,
   and prints for each the arguments as SplitCommandLine gives them and as
   CommandLineToArgvW gives those after a program's name, each list as hex
   strings separated by blanks:

       MINE hex hex ...
       SYSTEM hex hex ...                                                    */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <vector>
#include "app/cmdline.h"

static void print_hex(const char *s)
{
    putchar(' ');
    if (!*s)
        putchar('-');
    for (; *s; s++)
        printf("%02x", (unsigned char)*s);
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    FILE *f = fopen(argv[1], "r");
    if (!f)
        return 2;
    char line[4096];
    while (fgets(line, sizeof line, f)) {
        char tail[2048];
        int n = 0;
        unsigned v;
        for (const char *p = line; n < (int)sizeof tail - 1 && sscanf(p, "%2x", &v) == 1; p += 2)
            tail[n++] = (char)v;
        tail[n] = 0;
        std::vector<char> out(n + 1);
        int count = SplitCommandLine(tail, out.data());
        printf("MINE");
        const char *p = out.data();
        for (int i = 0; i < count; i++, p += strlen(p) + 1)
            print_hex(p);
        printf("\nSYSTEM");
        wchar_t wide[2100] = L"x ";
        MultiByteToWideChar(CP_UTF8, 0, tail, -1, wide + 2, 2048);
        int system = 0;
        wchar_t **args = CommandLineToArgvW(wide, &system);
        for (int i = 1; args && i < system; i++) {
            char arg[4096];
            WideCharToMultiByte(CP_UTF8, 0, args[i], -1, arg, sizeof arg, NULL, NULL);
            print_hex(arg);
        }
        LocalFree(args);
        printf("\n");
    }
    fclose(f);
    return 0;
}
