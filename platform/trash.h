// The desktop trash (the Recycle Bin on Windows). One implementation per
// platform: trash_posix.cpp and trash_win32.cpp.
#pragma once
#include "platform/folder.h"

enum TrashResult {
    kTrashed,
    kTrashPageChanged,  // the file is not (or no longer) the one `id` describes: it stays
    kTrashFailed,       // LastSystemError() says why; the file stays where it was
};

struct TrashedFile {
    char path[kFolderPathSize + 64];    // where the file is now (empty where unknown)
    char name[256];                     // its name in the trash, where it has one of its own
    PageIdentity id;                    // what it is there, for RestoreTrashed
};

// Moves the entry `name` of `from`, which must be the file that `id`
// describes, into the user's trash, and syncs what it changed there.
TrashResult TrashEntry(const HeldFolder *from, const char *name, const PageIdentity *id,
                       TrashedFile *out);
// The same for a file that stands at `name` for a moment but is the page
// `asName` of the folder (the original after the cleaned page took its
// name): recorded, and named in the trash, as `asName`. POSIX only.
TrashResult TrashEntryAs(const HeldFolder *from, const char *name, const char *asName,
                         const PageIdentity *id, TrashedFile *out);

// Brings a file just trashed back to `name` in `to`, never over anything;
// false (and it stays in the trash) when that cannot be done.
bool RestoreTrashed(const TrashedFile *trashed, const HeldFolder *to, const char *name);

// A call of many pages holds its trashes: between HoldTrashes(true) and
// HoldTrashes(false) the trash chosen for a file system is opened once and
// kept for the pages after (POSIX: its files/ and info/ held, its owner
// checked when it was opened), and a folder found outside every trash is
// not looked at again. Without it (the library), each page opens its
// trash. Windows: nothing to hold. Call it with no page under way.
void HoldTrashes(bool on);

// True when the held folder lies inside a trash, where pages are not
// cleaned (Linux: the home trash and the .Trash folders at the top of a
// file system, known by what they are, not by their names alone; Windows:
// a folder named $Recycle.Bin, RECYCLER or RECYCLED on the way).
bool IsInsideTrash(const HeldFolder *folder);

// ---- The trashes a walk of folders never enters

// What identifies a folder: its volume and file number.
struct TrashKey {
    uint64_t volume, file;
};

// The trashes known before a walk starts, by identity (POSIX: the runner's
// home trash and that of every user the password database names; Windows:
// none, the names decide).
struct KnownTrashes {
    TrashKey *keys;             // malloc'd; null when count is 0
    size_t count;
};
void FindKnownTrashes(KnownTrashes *known);
void FreeKnownTrashes(KnownTrashes *known);

// The one rule by which a walk skips a folder it found as a trash, at any
// depth: by name (POSIX: .Trash, .Trash-UID; Windows: $Recycle.Bin,
// RECYCLER, RECYCLED), by identity (one of `known`), or by shape (a folder
// holding the folders files/ and info/, with a NAME.trashinfo in info/).
// `folder` is the folder itself, held; where the walk goes by path it may
// be null (or `known` null), and only the name decides.
bool IsTrashFolder(const char *name, const HeldFolder *folder, const KnownTrashes *known);
