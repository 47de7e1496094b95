// The cleaning run: name test, the clean of the page into a new file beside
// it, disposal of the original, write-back.
//
// The page is never edited in place. Its bytes are read once, by the first
// stage; the cleaned result goes into a new file beside the page before the
// original is touched, the original is then moved away (folder or trash),
// and only then is the new file put at the page's path, with a call that
// fails rather than overwrite. So at every moment either the original or the
// cleaned page is intact, at the path or where the disposal put it.
#include "clean/run.h"
#include <string.h>
#include "app/options.h"
#include "clean/clean.h"
#include "clean/fs.h"
#include "clean/report.h"
#include "dispose/dispose.h"

// Streams of a run, one slot each: only one run is ever active.
static ByteStream PageFile;
static NewPage CleanedPage;

bool IsPageName(const char *path)
{
    size_t n = strlen(path);
    if (n < 4)
        return false;
    const char *last4 = path + n - 4;
    if (NamesEqualIgnoreCase(last4, ".htm") || NamesEqualIgnoreCase(last4, ".plg"))
        return true;
    return n >= 5 && path[n - 5] == '.' && NamesEqualIgnoreCase(last4, "html");
}

bool CleaningRun()
{
    if (!IsPageName(CurrentFile)) {
        ReportWarning(kWarnNotPermissible);
        return false;
    }
    NotifyRunStarted();

    if (ProbePage(CurrentFile) != kPageRegular || !OpenPageForReading(CurrentFile, &PageFile)) {
        ReportError(kErrCannotOpen);
        return false;
    }
    // The cleaned page goes beside the original before the original moves.
    if (!CreateNewPage(CurrentFile, &CleanedPage)) {
        StreamClose(&PageFile);
        ReportError(kErrCannotWritePage);
        return false;
    }
    CleanSwitches switches = SwitchesFromWord(CleanOptions);
    CleanStatus status = CleanStream(&switches, &PageFile, &CleanedPage.stream, nullptr);
    StreamClose(&PageFile);
    if (status != kCleanDone || !FinishNewPage(&CleanedPage)) {
        DiscardNewPage(&CleanedPage);
        ReportError(status == kCleanReadFailed   ? kErrCannotRead
                    : status == kCleanTempFailed ? kErrCannotCreateTemp
                                                 : kErrCannotWritePage);
        return false;
    }

    DisposeOriginal();
    if (PathExists(CurrentFile)) {
        DiscardNewPage(&CleanedPage);
        ReportError(kErrCannotRemoveOriginal);
        return false;
    }

    char savedAs[kPathMax + 32];
    if (!PlaceNewPage(&CleanedPage, CurrentFile, savedAs, sizeof savedAs)) {
        DiscardNewPage(&CleanedPage);
        ReportError(kErrCannotReplace, savedAs[0] ? savedAs : "(nowhere)");
        return false;
    }
    return true;
}
