// Entry of the command-line program: webtrim PAGE
// The arguments joined with single blanks are the path, so an unquoted path
// with blanks is taken whole, as on Windows.
#include <stdio.h>
#include <string.h>
#include <string>
#include "app/cmdline.h"
#include "app/options.h"
#include "app/settings.h"
#include "clean/report.h"
#include "clean/run.h"

int main(int argc, char **argv)
{
    LoadSettings();
    std::string tail;
    for (int i = 1; i < argc; i++) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    if (tail.empty()) {
        fprintf(stderr, "usage: webtrim PAGE.htm  (cleans the saved web page in place)\n");
        return 2;
    }
    if (!TakeCommandLinePath(tail.c_str(), CurrentFile, kPathMax)) {
        ReportError(kErrCannotOpen);
        return 1;
    }
    return CleaningRun() ? 0 : 1;
}
