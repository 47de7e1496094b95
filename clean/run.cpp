// The cleaning run: name test, stages over temporary files, disposal of the
// original, write-back.
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
#include "clean/anylayout.h"
#include "clean/fs.h"
#include "clean/passes.h"
#include "clean/report.h"
#include "clean/tagbuf.h"
#include "dispose/dispose.h"

// Streams of a run, one slot each: only one run is ever active.
static ByteStream PageFile;
static ByteStream Temp1;
static ByteStream Temp2;
static ByteStream Temp3;
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

// Closes whatever of the run's streams is still open.
static void CloseAll()
{
    StreamClose(&PageFile);
    StreamClose(&Temp1);
    StreamClose(&Temp2);
    StreamClose(&Temp3);
}

// Checks a stage's streams: a page that could not be read to its end, or a
// temporary file that lost a write, must not replace the original.
static bool StageFailed(ByteStream *input, ByteStream *output)
{
    if (input == &PageFile && StreamReadFailed(input)) {
        CloseAll();
        ReportError(kErrCannotRead);
        return true;
    }
    if (StreamReadFailed(input) || !StreamFlush(output)) {
        CloseAll();
        ReportError(kErrCannotCreateTemp);
        return true;
    }
    return false;
}

static void RunExtraction(ByteStream *input, ByteStream *output)
{
    if (RunFlags[8] && RunFlags[13])
        AnyLayoutExtract(RunFlags[11] != 0, input, output);
    else
        MainPartExtractor(RunFlags[8] != 0, RunFlags[11] != 0, input, output);
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
    if (!CreateTempStream(&Temp1)) {
        CloseAll();
        ReportError(kErrCannotCreateTemp);
        return false;
    }
    if (!CreateTempStream(&Temp2)) {
        CloseAll();
        ReportError(kErrCannotCreateTemp);
        return false;
    }

    CaptureRunFlags(CleanOptions);
    DeriveElementFlags();

    // The extraction comes first when "Extract main part before deleting"
    // is on; the attribute pass always comes last.
    bool extractFirst = RunFlags[12] != 0;
    if (extractFirst)
        RunExtraction(&PageFile, &Temp1);
    else
        ElementRemovalPass(&PageFile, &Temp1);
    if (StageFailed(&PageFile, &Temp1))
        return false;
    StreamClose(&PageFile);
    StreamRewind(&Temp1);

    if (extractFirst)
        ElementRemovalPass(&Temp1, &Temp2);
    else
        RunExtraction(&Temp1, &Temp2);
    if (StageFailed(&Temp1, &Temp2))
        return false;

    StreamClose(&Temp1);
    if (!CreateTempStream(&Temp3)) {
        CloseAll();
        ReportError(kErrCannotCreateTemp);
        return false;
    }
    StreamRewind(&Temp2);
    AttributePass(&Temp2, &Temp3);
    if (StageFailed(&Temp2, &Temp3))
        return false;
    StreamClose(&Temp2);

    // The cleaned page goes beside the original before the original moves.
    StreamRewind(&Temp3);
    if (!CreateNewPage(CurrentFile, &CleanedPage)) {
        CloseAll();
        ReportError(kErrCannotWritePage);
        return false;
    }
    CopyStream(&Temp3, &CleanedPage.stream);
    if (StreamReadFailed(&Temp3) || !FinishNewPage(&CleanedPage)) {
        DiscardNewPage(&CleanedPage);
        CloseAll();
        ReportError(kErrCannotWritePage);
        return false;
    }
    StreamClose(&Temp3);

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
