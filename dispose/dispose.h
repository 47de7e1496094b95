// Moving the untouched original out of the way before the cleaned page takes
// its path: into the target folder under the first free name (name, ~1_name,
// ... ~998_name), or into the Recycle Bin (the desktop trash elsewhere).
#pragma once
#include <stddef.h>

enum { kDisposalWhereSize = 4096 + 32 };

enum DisposalKind { kDisposalFailed, kDisposedToFolder, kDisposedToTrash };

struct DisposalOutcome {
    DisposalKind kind;
    char where[kDisposalWhereSize];   // kDisposedToFolder: the full destination path; else empty
    int error;                        // the platform's error code of the last failure, 0 if none
};

// Moves the original away: into targetFolder under the first free name
// unless toRecycleBin, else (or after one of the three warnings) into the
// Recycle Bin / trash. Never replaces anything. Fills *out with what
// happened; the caller decides from that, not from the path.
void DisposeOriginal(const char *pagePath, bool toRecycleBin, const char *targetFolder,
                     DisposalOutcome *out);

// What the platform provides.
extern const char kPathSeparator;          // '\\' on Windows, '/' elsewhere
extern const size_t kDestinationMax;       // longest destination path
extern const size_t kNameMax;              // longest file name

bool IsExistingFolder(const char *path);
const char *FindFileName(const char *path);

enum MoveResult { kMoved, kMoveNameTaken, kMoveFailed };
// Moves `from` to `to` and never replaces anything at `to`: kMoveNameTaken
// when `to` exists (the caller then tries the next free name), kMoveFailed on
// any other failure, leaving no file of its own behind. Across file systems
// the original is copied with its owner, mode, times and extended
// attributes, flushed, given the free name, and only then removed.
MoveResult MoveOriginal(const char *from, const char *to);
// Moves the file into the Recycle Bin or trash. False when it stayed.
bool RecycleOriginal(const char *path);
