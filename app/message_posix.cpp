// Messages of the command-line program: one line on standard error per
// message, with the text's own line breaks kept.
#include <stdio.h>
#include "clean/report.h"

void ShowMessage(MessageKind kind, int id, const char *detail, int sysError)
{
    (void)sysError;
    const char *text = kind == kMessageError ? kErrorTexts[id] : kWarningTexts[id];
    fprintf(stderr, "webtrim: %s%s\n", text, detail ? detail : "");
}

void NotifyRunStarted()
{
}
