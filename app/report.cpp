#include "app/report.h"

const char *const kErrorTexts[kErrorCount] = {
    "Cannot open this file",
    "Cannot create temporary file",
    "Cannot read this file",
    "Cannot write the cleaned page",
    "Cannot remove the original file.\nThe page was not changed.",
    "Cannot replace the original file.\nThe cleaned page was saved as:\n",
    "The page changed while it was being cleaned.\nThe page was not changed.",
};

const char *const kWarningTexts[kWarningCount] = {
    "The file is not permissible.\nOnly *.htm, *.html, *.plg files are allowable",
    "Choosed folder doesn't exist.\nThe original file will be sent to Recycle Bin.",
    "The filename is too long.\nThe original file will be sent to Recycle Bin.",
    "Cannot move the original file.\nIt will be sent to Recycle Bin.",
};

#ifdef _WIN32
const char kOriginalInTrashText[] = "The original is in the Recycle Bin.";
#else
const char kOriginalInTrashText[] = "The original is in the trash.";
#endif
const char kOriginalMovedToText[] = "The original was moved to:\n";

void ReportError(ErrorId id, const char *detail, int sysError)
{
    ShowMessage(kMessageError, id, detail, sysError);
}

void ReportWarning(WarningId id)
{
    ShowMessage(kMessageWarning, id, 0, 0);
}
