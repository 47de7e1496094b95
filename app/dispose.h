// Where the untouched original goes before the cleaned page takes its path:
// into the target folder under the first free name (name, ~1_name, ...
// ~998_name), or into the trash (the Recycle Bin on Windows). One planner
// decides the way and the name for the preview (-n) and the real disposal.
#pragma once
#include <stddef.h>
#include "app/messages.h"
#include "platform/folder.h"
#include "platform/trash.h"

enum { kMaxNameNumber = 999 };  // names tried: name, ~1_name ... ~998_name

// The way out of a whole call, decided once: the trash, or a folder held
// open for the call (it cannot be swapped for another while pages go there).
struct DisposalTarget {
    bool toTrash;
    bool folderMissing;         // a folder was chosen but is not there: the
                                // originals go to the trash (warned once)
    HeldFolder folder;          // open when !toTrash
};

// Opens the chosen folder unless `toTrash`. A folder that cannot be opened
// makes folderMissing true (the caller gives kWarnFolderMissing once).
void OpenDisposalTarget(bool toTrash, const char *folder, DisposalTarget *target);
void CloseDisposalTarget(DisposalTarget *target);

// The plan for one page.
struct DisposalPlan {
    bool toTrash;
    int warning;                // WarningId that sent it to the trash, or -1
    int number;                 // the first free name's number (0: the name itself)
    char name[260 * 3 + 16];    // the first free name in the folder
    char where[kFolderPathSize + 260 * 3 + 16];    // the folder and that name
};

// The first free name for the page `pageName` in the target folder, from
// `first` on, within the limits of length and number; or the trash, with
// the warning that says why.
void PlanDisposal(const DisposalTarget *target, const char *pageName, int first,
                  DisposalPlan *plan);

enum DisposalKind { kDisposalFailed, kDisposalPageChanged, kDisposedToFolder, kDisposedToTrash };

struct DisposalOutcome {
    DisposalKind kind;
    unsigned warnings;          // bit w: warning w applies (the caller reports them)
    int error;                  // the platform's error code of the failure, 0 if none
    char where[kFolderPathSize + 260 * 3 + 16];    // the full path it went to, when known
    char name[260 * 3 + 16];    // kDisposedToFolder: its name in the folder
    TrashedFile trashed;        // kDisposedToTrash
};

// Moves the original, the entry `name` of `folder` that must still be the
// file `id` describes, the way the plan says, falling back to the trash
// with a warning as the plan does. Never replaces anything.
void DisposeOriginal(const DisposalTarget *target, const HeldFolder *folder, const char *name,
                     const PageIdentity *id, DisposalOutcome *out);
// The same for the original standing at `name` for a moment while it is
// the page `asName` (the cleaned page has taken its name): planned,
// named and recorded as `asName`.
void DisposeOriginalAs(const DisposalTarget *target, const HeldFolder *folder, const char *name,
                       const char *asName, const PageIdentity *id, DisposalOutcome *out);

// Brings a disposed original back to `name` in `folder`; false when it
// cannot (it stays where the disposal put it).
bool BringBackOriginal(const DisposalTarget *target, const DisposalOutcome *out,
                       const HeldFolder *folder, const char *name);
