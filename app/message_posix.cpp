// Message boxes of the command-line program: one line on standard error per
// box, with the text's own line breaks kept.
#include <stdio.h>
#include "clean/report.h"

void ShowMessage(const char *text, unsigned style)
{
    (void)style;
    fprintf(stderr, "webtrim: %s\n", text);
}

void NotifyRunStarted()
{
}
