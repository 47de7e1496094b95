/* Stands in for the web browser in the help tests: registered in the test
   prefix as the program that opens .html files, it appends the command
   line it was started with to the file named by WT_RECORD, one line per
   start, and ends. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    const char *path = getenv("WT_RECORD");
    FILE *f = path ? fopen(path, "a") : NULL;
    if (!f)
        return 2;
    fprintf(f, "%s\n", GetCommandLineA());
    fclose(f);
    return 0;
}
