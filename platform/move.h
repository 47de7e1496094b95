// Moving a file from one held folder to another, never over anything.
// One implementation per platform: move_posix.cpp and move_win32.cpp.
#pragma once
#include "platform/folder.h"

enum MoveResult {
    kMoved,
    kMoveNameTaken,     // something is at the destination: try another name
    kMovePageChanged,   // the file is not (or no longer) the one `id` describes: it stays
    kMoveFailed,        // LastSystemError() says why; the file stays where it was
};

// Moves the entry `name` of `from`, which must be the file that `id`
// describes, to `toName` in `to`. On one file system (volume) a rename that
// refuses to replace. Across file systems a copy made where nobody sees it,
// with the original's owner, mode, times and attributes, synced to the
// disk, checked against the original again (Linux: size, times, inode;
// Windows: size, write time, file index) and only then given the free
// name; the original is removed last, after a last check. A change found
// at any check removes the copy and leaves the original as it is. `to` is
// synced before kMoved (SyncFolderLater: perhaps with a batch's flush). With `id` null, the file is moved whatever it is.
MoveResult MoveEntry(const HeldFolder *from, const char *name, const PageIdentity *id,
                     const HeldFolder *to, const char *toName);
