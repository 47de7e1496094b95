// The cleaning run: name test, the clean of the page into a new file beside
// it, disposal of the original, write-back.
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
#include "app/run.h"
#include <stdlib.h>
#include <string.h>
#include "app/options.h"
#include "app/report.h"
#include "platform/compare.h"
#include "platform/fs.h"

// The state of one run: a page, its new file and what became of them.
struct PageRun {
    const char *path;                   // as named
    char pagePath[kPathMax];            // the path through its links
    ByteStream page;
    NewPage cleaned;
    ByteStream out;                     // into cleaned.file, which it does not close
    PageIdentity id;
    InPlaceResult result;
};

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

// Stops the run before anything was disposed of.
static bool Stop(PageRun *r, ErrorId id, int err)
{
    StreamClose(&r->page);
    ReportError(id, 0, err);
    return false;
}

// Reports a failure that came after the original left its path: `detail`,
// then where the original is now.
static void ReportAfterDisposal(const PageRun *r, ErrorId id, const char *detail, int err)
{
    const DisposalOutcome *d = &r->result.disposal;
    bool moved = d->kind == kDisposedToFolder;
    const char *head = moved ? kOriginalMovedToText : "";
    const char *where = moved ? d->where : kOriginalInTrashText;
    size_t a = strlen(detail), b = strlen(head), c = strlen(where);
    char *text = (char *)malloc(a + b + c + 2);
    if (!text) {
        ReportError(id, detail, err);
        return;
    }
    memcpy(text, detail, a);
    text[a] = '\n';
    memcpy(text + a + 1, head, b);
    memcpy(text + a + 1 + b, where, c + 1);
    ReportError(id, text, err);
    free(text);
}

static ErrorId CleanFailure(CleanStatus status)
{
    switch (status) {
    case kCleanReadFailed:
        return kErrCannotRead;
    case kCleanTempFailed:
        return kErrCannotCreateTemp;
    default:
        return kErrCannotWritePage;
    }
}

static bool Run(PageRun *r, uint32_t options, const char *targetFolder)
{
    // A page named through a link is cleaned at the link's target, and the
    // target's name is the one that must be a page's name.
    bool resolved = ResolvePagePath(r->path, r->pagePath, sizeof r->pagePath);
    int err = LastSystemError();
    if (!IsPageName(resolved ? r->pagePath : r->path)) {
        ReportWarning(kWarnNotPermissible);
        return false;
    }
    NotifyRunStarted();
    if (!resolved)
        return Stop(r, kErrCannotOpen, err);
    const char *path = r->pagePath;
    FileHandle file;
    if (ProbePage(path) != kPageRegular || !OpenPageForReading(path, &file, &r->id))
        return Stop(r, kErrCannotOpen, LastSystemError());
    StreamAttach(&r->page, file);

    // The cleaned page goes beside the original, whole and on the disk,
    // before the original moves.
    if (!CreateNewPage(path, &r->cleaned))
        return Stop(r, kErrCannotWritePage, LastSystemError());
    StreamAttach(&r->out, r->cleaned.file);
    CleanSwitches switches = SwitchesFromWord(options);
    CleanStatus status = CleanStream(&switches, &r->page, &r->out, &r->result.clean);
    err = LastSystemError();
    StreamClose(&r->page);
    if (status != kCleanDone) {
        DiscardNewPage(&r->cleaned);
        ReportError(CleanFailure(status), 0, err);
        return false;
    }
    // What is left in the buffer goes to the file before the sync.
    if (!KeepPageAttributes(path, &r->cleaned) || !StreamFlush(&r->out) ||
        !FinishNewPage(&r->cleaned)) {
        err = LastSystemError();
        DiscardNewPage(&r->cleaned);
        ReportError(kErrCannotWritePage, 0, err);
        return false;
    }

    // What goes away must be the page that was read: one replaced or
    // written to meanwhile stays, and so does the other program's work.
    if (!IsSamePage(path, &r->id)) {
        DiscardNewPage(&r->cleaned);
        ReportError(kErrPageChanged);
        return false;
    }

    HoldTerminationSignals(true);
    DisposalOutcome *d = &r->result.disposal;
    DisposeOriginal(path, (options & kOptRecycleBin) != 0, targetFolder, d);
    if (d->kind == kDisposalFailed) {
        DiscardNewPage(&r->cleaned);
        HoldTerminationSignals(false);
        ReportError(kErrCannotRemoveOriginal, 0, d->error);
        return false;
    }

    char savedAs[kPathMax + 32];
    bool placed = PlaceNewPage(&r->cleaned, path, savedAs, sizeof savedAs);
    if (!placed) {
        err = LastSystemError();
        DiscardNewPage(&r->cleaned);
        ReportAfterDisposal(r, kErrCannotReplace, savedAs[0] ? savedAs : "(nowhere)", err);
    }
    HoldTerminationSignals(false);
    return placed;
}

bool CleanPageInPlace(const char *path, uint32_t options, const char *targetFolder,
                      InPlaceResult *result)
{
    // Its stream buffers: too large for a thread's stack.
    PageRun *r = (PageRun *)calloc(1, sizeof *r);
    if (!r) {
        ReportError(kErrCannotCreateTemp);
        return false;
    }
    r->path = path;
    r->result.disposal.kind = kDisposalFailed;
    bool cleaned = Run(r, options, targetFolder);
    r->result.cleaned = cleaned;
    if (result)
        *result = r->result;
    free(r);
    return cleaned;
}

bool CleaningRun()
{
    return CleanPageInPlace(CurrentFile, CleanOptions, TargetFolder, 0);
}
