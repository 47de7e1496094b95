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
    int error;                        // the platform's error code of the last failure (errno / GetLastError), 0 if none
};
// Moves the original away: into targetFolder under the first free name (name, ~1_name ... ~998_name)
// unless toRecycleBin, else (or after one of the three warnings) into the Recycle Bin / trash.
// Never replaces anything. Fills *out with what happened; the caller decides from that, not from the path.
void DisposeOriginal(const char *pagePath, bool toRecycleBin, const char *targetFolder, DisposalOutcome *out);

// What the platform provides.
extern const char kPathSeparator;          // '\\' on Windows, '/' elsewhere
extern const size_t kDestinationMax;       // longest destination path
extern const size_t kNameMax;              // longest file name

bool IsExistingFolder(const char *path);
const char *FindFileName(const char *path);

enum MoveResult { kMoved, kMoveNameTaken, kMoveFailed };
// Moves `from` to `to` and never replaces anything at `to`: kMoveNameTaken when `to` exists (the
// portable loop then tries the next free name), kMoveFailed on any other failure, leaving no file of
// its own behind (no partial copy, no hidden temporary). Same file system: renameat2(RENAME_NOREPLACE),
// or an O_EXCL placeholder claimed and rename() over it where the file system refuses NOREPLACE;
// Windows same volume: MoveFileExA without MOVEFILE_REPLACE_EXISTING. Other file system / volume:
// copy into a hidden exclusive temporary in the target folder (0600 on Linux), give it the original's
// owner, mode, times, xattrs, ACL (Windows: CopyFileExA with COPY_FILE_FAIL_IF_EXISTS), flush it,
// claim the free name as above (MoveFileExA without replace), then remove the original; if the
// original cannot be removed, remove the copy and fail.
MoveResult MoveOriginal(const char *from, const char *to);
bool RecycleOriginal(const char *path);   // builds its own double-zero list on Windows
