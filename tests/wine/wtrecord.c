/* Stands in for the web browser in the help tests: registered in the test
   prefix as the program that opens .html files, it appends the command
   line it was started with to the file named by WT_RECORD (in UTF-8), one
   line per start, and ends. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    const char *path = getenv("WT_RECORD");
    FILE *f = path ? fopen(path, "a") : NULL;
    if (!f)
        return 2;
    char line[8192];
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL, NULL);
    fprintf(f, "%s\n", line);
    fclose(f);
    return 0;
}
