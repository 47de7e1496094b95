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
