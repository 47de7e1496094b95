// The file services that a cleaning run needs from the platform.
// One implementation per platform: fs_posix.cpp and fs_win32.cpp.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "platform/file.h"

enum PageKind {
    kPageRegular,       // an ordinary file
    kPageMissing,       // nothing there, or its folder cannot be searched
    kPageNotRegular,    // a folder, device, pipe or socket
};

// Looks at the path without opening it, so a pipe cannot block the run.
PageKind ProbePage(const char *path);

// What identifies the page that was read.
struct PageIdentity {
    uint64_t volume;            // st_dev / volume serial number
    uint64_t file;              // st_ino / file index (high:low)
    uint64_t size;
    int64_t modified;           // st_mtim in ns / last-write FILETIME
    int64_t changed;            // st_ctim in ns / 0 where the platform has none
};

// Opens the page for reading as raw bytes and fills its identity (when `id`
// is given) from the open handle.
bool OpenPageForReading(const char *path, FileHandle *file, PageIdentity *id);

// True when `path` still names the same file, with the same size and times.
bool IsSamePage(const char *path, const PageIdentity *id);

// The path a page is cleaned at. A page named through a symbolic link is
// cleaned at the link's target when the link belongs to the runner or to the
// target's owner (the rule of fs.protected_symlinks); a dangling link or one
// that fails that test gives false. Any other path is copied as it is.
bool ResolvePagePath(const char *path, char *out, size_t outSize);

// True when anything at all (even a dangling link) lies at the path.
bool PathExists(const char *path);

// The cleaned page on its way to the page's path: a new file in the page's
// own folder that has no visible name yet, or a short temporary one.
// Its content goes through a stream the caller attaches to `file` and
// flushes before FinishNewPage; PlaceNewPage and DiscardNewPage close it.
struct NewPage {
    FileHandle file;
    bool open;                  // `file` is still open
    bool created;
    bool placed;
    char tempPath[4096 + 16];   // empty while the file has no name
};

// Creates the new file beside the page, readable by its creator only until
// KeepPageAttributes runs.
bool CreateNewPage(const char *pagePath, NewPage *np);

// Gives the new page what the original at pagePath has: owner and group
// where the runner may set them, extended attributes and the ACL, and the
// mode bits (Windows: file attributes, DACL, Zone.Identifier stream). What
// the runner may not set is skipped; false only when the original's
// attributes cannot be read at all.
bool KeepPageAttributes(const char *pagePath, NewPage *np);

// Syncs the content, written and flushed by the caller, to the disk.
bool FinishNewPage(NewPage *np);

// Puts the new file at the page's path; never replaces a file that is there.
// The folder is synced after. On failure the new file is kept under a name
// of its own, given back in savedAs (empty when even that failed).
bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize);

// Removes the new file and closes it, whatever state it is in.
void DiscardNewPage(NewPage *np);

// Blocks SIGINT, SIGTERM and SIGHUP while the original is away and the new
// page not yet placed; at any other moment they remove the run's named
// temporaries and end the program as they would have. No-op on Windows.
void HoldTerminationSignals(bool hold);

// The platform's code of the last failure: errno / GetLastError.
int LastSystemError();
