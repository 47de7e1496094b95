// The cleaning run: name test, stages over temporary files, disposal of the
// original, write-back.
//
// The page is never edited in place. Its bytes are read once, by the first
// stage; the cleaned result goes into a new file beside the page, with the
// original's owner, mode and attributes, and is synced to the disk before
// the original is touched. Just before the original moves, the path must
// still name the file that was read. The original is then moved away (folder
// or trash), and only then is the new file put at the page's path, with a
// call that fails rather than overwrite. So at every moment either the
// original or the cleaned page is intact, at the path or where the disposal
// put it, and every message given after the original left says where.
#include "clean/run.h"
#include <string.h>
#include "app/options.h"
#include "clean/anylayout.h"
#include "clean/fs.h"
#include "clean/passes.h"
#include "clean/report.h"
#include "clean/tagbuf.h"
#include "dispose/dispose.h"

// State of a run, one slot each: only one run is ever active.
static ByteStream PageFile;
static ByteStream Temp1;
static ByteStream Temp2;
static ByteStream Temp3;
static NewPage CleanedPage;
static char PagePath[kPathMax];         // CurrentFile, through its links
static PageIdentity PageId;
static DisposalOutcome Disposal;

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
        int err = LastSystemError();
        CloseAll();
        ReportError(kErrCannotRead, 0, err);
        return true;
    }
    if (StreamReadFailed(input) || !StreamFlush(output)) {
        int err = LastSystemError();
        CloseAll();
        ReportError(kErrCannotCreateTemp, 0, err);
        return true;
    }
    return false;
}

// Stops the run before anything was disposed of.
static bool Stop(ErrorId id, int err)
{
    CloseAll();
    ReportError(id, 0, err);
    return false;
}

// Reports a failure that came after the original left its path: `detail`,
// then where the original is now.
static void ReportAfterDisposal(ErrorId id, const char *detail, int err)
{
    enum { kDetailSize = kPathMax + 32 + kDisposalWhereSize + 64 };
    static char text[kDetailSize];
    size_t n = strlen(detail);
    if (n > kPathMax + 32)
        n = kPathMax + 32;
    memcpy(text, detail, n);
    text[n++] = '\n';
    const char *where = kOriginalInTrashText;
    if (Disposal.kind == kDisposedToFolder) {
        size_t m = strlen(kOriginalMovedToText);
        memcpy(text + n, kOriginalMovedToText, m);
        n += m;
        where = Disposal.where;
    }
    size_t m = strlen(where);
    memcpy(text + n, where, m + 1);
    ReportError(id, text, err);
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
    // A page named through a link is cleaned at the link's target, and the
    // target's name is the one that must be a page's name.
    bool resolved = ResolvePagePath(CurrentFile, PagePath, sizeof PagePath);
    int err = LastSystemError();
    if (!IsPageName(resolved ? PagePath : CurrentFile)) {
        ReportWarning(kWarnNotPermissible);
        return false;
    }
    NotifyRunStarted();

    if (!resolved)
        return Stop(kErrCannotOpen, err);
    if (ProbePage(PagePath) != kPageRegular || !OpenPageForReading(PagePath, &PageFile, &PageId))
        return Stop(kErrCannotOpen, LastSystemError());
    if (!CreateTempStream(&Temp1) || !CreateTempStream(&Temp2))
        return Stop(kErrCannotCreateTemp, LastSystemError());

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
    if (!CreateTempStream(&Temp3))
        return Stop(kErrCannotCreateTemp, LastSystemError());
    StreamRewind(&Temp2);
    AttributePass(&Temp2, &Temp3);
    if (StageFailed(&Temp2, &Temp3))
        return false;
    StreamClose(&Temp2);

    // The cleaned page goes beside the original, whole and on the disk,
    // before the original moves.
    StreamRewind(&Temp3);
    if (!CreateNewPage(PagePath, &CleanedPage))
        return Stop(kErrCannotWritePage, LastSystemError());
    CopyStream(&Temp3, &CleanedPage.stream);
    if (StreamReadFailed(&Temp3) || !KeepPageAttributes(PagePath, &CleanedPage) ||
        !FinishNewPage(&CleanedPage)) {
        err = LastSystemError();
        DiscardNewPage(&CleanedPage);
        return Stop(kErrCannotWritePage, err);
    }
    StreamClose(&Temp3);

    // What goes away must be the page that was read: one replaced or
    // written to meanwhile stays, and so does the other program's work.
    if (!IsSamePage(PagePath, &PageId)) {
        DiscardNewPage(&CleanedPage);
        ReportError(kErrPageChanged);
        return false;
    }

    HoldTerminationSignals(true);
    DisposeOriginal(PagePath, (CleanOptions & kOptRecycleBin) != 0, TargetFolder, &Disposal);
    if (Disposal.kind == kDisposalFailed) {
        DiscardNewPage(&CleanedPage);
        HoldTerminationSignals(false);
        ReportError(kErrCannotRemoveOriginal, 0, Disposal.error);
        return false;
    }

    char savedAs[kPathMax + 32];
    bool placed = PlaceNewPage(&CleanedPage, PagePath, savedAs, sizeof savedAs);
    if (!placed) {
        err = LastSystemError();
        DiscardNewPage(&CleanedPage);
        ReportAfterDisposal(kErrCannotReplace, savedAs[0] ? savedAs : "(nowhere)", err);
    }
    HoldTerminationSignals(false);
    return placed;
}
