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

// Opens the page for reading as raw bytes.
bool OpenPageForReading(const char *path, ByteStream *s);

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

// Flushes the content and makes sure everything reached the file.
bool FinishNewPage(NewPage *np);

// Puts the new file at the page's path; never replaces a file that is there.
// On failure the new file is kept under a name of its own, given back in
// savedAs (empty when even that failed).
bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize);

// Removes the new file and closes it, whatever state it is in.
void DiscardNewPage(NewPage *np);

// Whole-string comparison of two names ignoring letter case, as the
// platform compares file names (lstrcmpiA on Windows, ASCII folding here).
bool NamesEqualIgnoreCase(const char *a, const char *b);
