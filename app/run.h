// One run in place: a page cleaned, its original moved away, the cleaned
// page put at its path. The run takes everything it needs as arguments and
// says what happened in a record and through a caller's callbacks; it keeps
// no state between calls, so several threads may clean different pages at
// once.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "app/companion.h"
#include "app/dispose.h"
#include "app/messages.h"
#include "app/result.h"
#include "clean/stream.h"
#include "clean/switches.h"
#include "platform/folder.h"

// What the run tells its caller while it works. Every member may be null.
struct RunCallbacks {
    void *context;
    // A message for the user: an error stops the page, a warning does not.
    void (*message)(void *context, MessageKind kind, int id, const char *detail, int sysError);
    // The run has begun on a page that passed the name test (the window
    // flashes its picture).
    void (*started)(void *context);
    // How much of the page the clean has read (it may read a page twice).
    void (*progress)(void *context, int64_t done, int64_t total);
};

struct PageJob {
    const char *path;                   // as the user named it
    // A page found by a walk: its folder, held since, and its name there;
    // then `path` is only for messages and never resolved again.
    const HeldFolder *folder;
    const char *name;
    CleanSwitches switches;
    const DisposalTarget *target;       // where originals go, opened for the whole call
    const RunCallbacks *callbacks;      // may be null
    // The target's folder is missing: say so when the original goes (the
    // window, for every run); a caller that said it once for many pages
    // leaves it false.
    bool sayMissingFolder;
    // Look whether the rule for any layout would cut a page that the table
    // rule kept whole (a second scan of the page; PageResult.haveHint).
    bool wantHint;
    // The cleaned page takes the page's modification and access times, as
    // the page's first look at it found them (kOptPreserveTime).
    bool keepTimes;
    // A file of the companion folder went (or, in a preview, would go):
    // where it is now (or was), and its size; called with the callbacks'
    // context. May be null.
    void (*companionFile)(void *context, const char *path, int64_t size);
    // A call of many pages: what the pages of each folder reach, each page
    // read once (app/companion.h). May be null.
    const CompanionNeighbours *neighbours;
};

// A job for the page at `path` under `switches`, originals to `target`:
// named by its path (no folder held), no callbacks, a missing folder said,
// no hint, the clean's own times. A caller sets the other fields by name.
inline PageJob PageJobFor(const char *path, const CleanSwitches &switches, const DisposalTarget *target)
{
    PageJob job;
    job.path = path;
    job.folder = nullptr;
    job.name = nullptr;
    job.switches = switches;
    job.target = target;
    job.callbacks = nullptr;
    job.sayMissingFolder = true;
    job.wantHint = false;
    job.keepTimes = false;
    job.companionFile = nullptr;
    job.neighbours = nullptr;
    return job;
}

// Accepts names ending in .htm, .html, .mht, .mhtml or .plg, in any case.
bool IsPageName(const char *path);
// A single-file page's name: .mht or .mhtml, in any case.
bool IsArchiveName(const char *path);

// Whether the first bytes of a page (all of it when it is shorter than
// kSniffSize) are no 8-bit text: kErrNotText for UTF-16 and UTF-32,
// kErrNotWebPage for a known binary format (its kind in *kind), -1 when
// the page may be cleaned.
enum { kSniffSize = 512 };
int RefusalOfContent(const unsigned char *head, size_t n, const char **kind);

// Cleans the page in place and fills *result. Gives every message through
// the callbacks as it happens and records the one that stopped the page.
void CleanPageInPlace(const PageJob *job, PageResult *result);

// What a run in place would do, without creating or changing anything: the
// same tests and clean (into a temporary file), whether the page's folder
// would take the new page, and where the original would go (the disposal's
// own plan).
void PreviewPageInPlace(const PageJob *job, PageResult *result);

// A page opened for a clean that writes elsewhere (-o, standard output):
// the same name test, refusals and opening as the run.
struct OpenedPage {
    HeldFolder folder;
    bool borrowed;              // the folder is the job's: not closed here
    char name[kFolderPathSize];
    FileHandle file;
    bool open;
    PageIdentity id;
};
bool OpenPageToClean(const PageJob *job, OpenedPage *page, PageResult *result);
void CloseOpenedPage(OpenedPage *page);

// Cleans `input` (at its start, seekable) into `output` and flushes it,
// with the record's figures; false with the failure recorded and told.
// Pages that are no 8-bit text are refused here too (the first bytes are
// read again), so a page from standard input is judged as a file is.
bool CleanToStream(const PageJob *job, ByteStream *input, ByteStream *output, PageResult *result);
