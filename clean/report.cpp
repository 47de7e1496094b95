#include "clean/report.h"
#include <stdlib.h>
#include <string.h>

const char *const kErrorTexts[kErrorCount] = {
    "Cannot open this file",
    "Cannot create temporary file",
    "Cannot read this file",
    "Cannot write the cleaned page",
    "Cannot remove the original file.\nThe page was not changed.",
    "Cannot replace the original file.\nThe cleaned page was saved as:\n",
};

const char *const kWarningTexts[kWarningCount] = {
    "The file is not permissible.\nOnly *.htm, *.html, *.plg files are allowable",
    "Choosed folder doesn't exist.\nThe original file will be sent to Recycle Bin.",
    "The filename is too long.\nThe original file will be sent to Recycle Bin.",
    "Cannot move the original file.\nIt will be sent to Recycle Bin.",
};

void ReportError(ErrorId id, const char *detail)
{
    if (!detail) {
        ShowMessage(kErrorTexts[id], kBoxError);
        return;
    }
    size_t a = strlen(kErrorTexts[id]), b = strlen(detail);
    char *text = (char *)malloc(a + b + 1);
    if (!text) {
        ShowMessage(kErrorTexts[id], kBoxError);
        return;
    }
    memcpy(text, kErrorTexts[id], a);
    memcpy(text + a, detail, b + 1);
    ShowMessage(text, kBoxError);
    free(text);
}

void ReportWarning(WarningId id)
{
    ShowMessage(kWarningTexts[id], kBoxWarning);
}
