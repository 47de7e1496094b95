// The file services that a cleaning run needs from the platform.
// One implementation per platform: fs_posix.cpp and fs_win32.cpp.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/stream.h"

// Positional reads and writes: -1 on error, else the number of bytes moved
// (a read of 0 is the end of the file). Writes move everything or fail.
long PlatformReadAt(FileHandle f, void *buf, size_t n, int64_t offset);
bool PlatformWriteAt(FileHandle f, const void *buf, size_t n, int64_t offset);
bool PlatformClose(FileHandle f);

// Test seam: when set, every positional read and write asks it first and
// fails when it answers false (a disk error that cannot be made from outside).
extern bool (*FileFaultHook)(FileHandle f, bool writing, int64_t offset);

enum PageKind {
    kPageRegular,       // an ordinary file
    kPageMissing,       // nothing there, or its folder cannot be searched
    kPageNotRegular,    // a folder, device, pipe or socket
};

// Looks at the path without opening it, so a pipe cannot block the run.
PageKind ProbePage(const char *path);

struct PageIdentity {           // what identifies the page that was read
    uint64_t volume;            // st_dev / volume serial number
    uint64_t file;              // st_ino / file index (high:low)
    uint64_t size;
    int64_t modified;           // st_mtim in ns / last-write FILETIME
    int64_t changed;            // st_ctim in ns / 0 where the platform has none
};
// Opens the page and fills its identity from the open handle.
bool OpenPageForReading(const char *path, ByteStream *s, PageIdentity *id);
// True when `path` still names the same file, with the same size and times.
bool IsSamePage(const char *path, const PageIdentity *id);
// Linux: a page named through a symbolic link is cleaned at the link's target when the link's owner is
// the runner or owns the target (as fs.protected_symlinks judges); writes the resolved path to `out`.
// A dangling link, or one that fails that test: false ("Cannot open this file"). Windows: copies path.
bool ResolvePagePath(const char *path, char *out, size_t outSize);

// An anonymous temporary file, read and write, private to this process and
// gone when closed or when the process dies.
bool CreateTempStream(ByteStream *s);

// True when anything at all (even a dangling link) lies at the path.
bool PathExists(const char *path);

// The cleaned page on its way to the page's path: a new file in the page's
// own folder that has no visible name yet, or a short temporary one.
struct NewPage {
    ByteStream stream;
    bool created;
    bool placed;
    char tempPath[4096 + 16];   // empty while the file has no name
};

// Creates the new file beside the page, with the permissions of a newly
// created file.
bool CreateNewPage(const char *pagePath, NewPage *np);

// Gives the new page what the original at pagePath has: Linux owner and group where the runner may
// set them (first), then mode bits, then xattrs and the ACL (system.posix_acl_access; an O_TMPFILE
// inherits the folder's default ACL: remove it when the original had none). Windows: the original's
// file attributes, its DACL where the user may set it, and its Zone.Identifier stream.
// What the runner may not set is skipped, not an error.
bool KeepPageAttributes(const char *pagePath, NewPage *np);

// FinishNewPage: flushes the content AND syncs it to the disk (fdatasync / FlushFileBuffers).
bool FinishNewPage(NewPage *np);

// PlaceNewPage: after linking into place, syncs the folder (Linux fsync of the folder).
// Puts the new file at the page's path; never replaces a file that is there.
// On failure the new file is kept under a name of its own, given back in
// savedAs (empty when even that failed).
bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize);

// Removes the new file and closes it, whatever state it is in.
void DiscardNewPage(NewPage *np);

// Linux: SIGINT/SIGTERM/SIGHUP blocked while the original is away and the new page not yet placed:
void HoldTerminationSignals(bool hold);   // no-op on Windows

// Whole-string comparison of two names ignoring letter case, as the
// platform compares file names (lstrcmpiA on Windows, ASCII folding here).
bool NamesEqualIgnoreCase(const char *a, const char *b);
