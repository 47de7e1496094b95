// The folders a run works in, held open from the moment they are found,
// and the entries in them. One implementation per platform: folder_posix.cpp
// and folder_win32.cpp.
//
// Every step after a folder is opened is taken relative to the held folder,
// never through its path again: a folder renamed, or swapped for a link to
// another one, while a run is under way changes nothing the run does. On
// POSIX systems the folder is a descriptor and every call is an *at() call;
// on Windows the folder is opened without delete sharing, so that nobody
// can rename or remove it (or a folder above it) while it is held, and the
// calls take its path.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "platform/file.h"

#ifdef _WIN32
enum { kFolderPathSize = 3 * 260 + 1 };     // MAX_PATH characters of UTF-8
#else
enum { kFolderPathSize = 4096 };            // PATH_MAX
#endif

extern const char kPathSeparator;           // '\\' on Windows, '/' elsewhere
extern const size_t kNameMax;               // longest name of an entry, in PathUnits
extern const size_t kDestinationMax;        // longest path a file is moved to, in PathUnits

// The length of a path or name as kDestinationMax and kNameMax count it:
// bytes here, UTF-16 units on Windows (where a path's text may be UTF-8).
size_t PathUnits(const char *text);

// What identifies a file that was read: when any of these changed, it is
// not the file (or no longer the content) that was read.
struct PageIdentity {
    uint64_t volume;            // st_dev / volume serial number
    uint64_t file;              // st_ino / file index (high:low)
    uint64_t size;
    int64_t modified;           // st_mtim in ns / last-write FILETIME
    int64_t changed;            // st_ctim in ns / 0 where the platform has none
    int64_t accessed;           // st_atim in ns / last-access FILETIME; never compared
};

bool SameIdentity(const PageIdentity *a, const PageIdentity *b);
// The same file, whatever became of its content.
inline bool SameFile(const PageIdentity *a, const PageIdentity *b)
{
    return a->volume == b->volume && a->file == b->file;
}

struct HeldFolder {
    FileHandle handle;
    bool open;
    bool canSync;               // POSIX: opened for reading (a folder the runner
                                // may search but not list is held without it)
    char path[kFolderPathSize]; // absolute, the links in it resolved; for
                                // messages, the trash and the Windows calls
};

// Opens the folder at `path`. A symbolic link among its components is
// followed only when the link belongs to the runner or to the owner of what
// it led to: a link planted by someone else cannot make the runner work in
// a folder of a third user's (EACCES). Each link is read once and judged by
// the owner of the very file or folder its target opened as, never by a
// second look at a name. False with the system's error.
bool OpenHeldFolder(const char *path, HeldFolder *folder);

// Opens the folder that holds the page at `pagePath` and gives the page's
// name in it. A page named through a link is taken at the link's target,
// under the same rule, so that the link stays a link; a dangling link is
// ENOENT. A name where nothing is yet is given all the same (its folder
// must exist). A path that ends in a folder's name ("." or "/") is EISDIR.
bool OpenPageFolder(const char *pagePath, HeldFolder *folder, char *name, size_t nameSize);
// The same, and where the page's own name was a link, the file that the
// link was judged by goes to `reached` (else its volume and file are 0):
// whoever opens the name later must find that file there, since the link's
// owner may swap what its target holds after the judgement.
bool OpenLinkedPageFolder(const char *pagePath, HeldFolder *folder, char *name, size_t nameSize,
                          PageIdentity *reached);

void CloseHeldFolder(HeldFolder *folder);

// Makes the names just made or removed in the folder last (where the file
// system can sync a folder; elsewhere true).
bool SyncHeldFolder(const HeldFolder *folder);

// What an entry of a folder is, looked at without following a link.
enum EntryKind {
    kEntryMissing,      // nothing there (errno says why, e.g. ENOENT, EACCES)
    kEntryFile,         // a regular file
    kEntryFolder,
    kEntryLink,         // a symbolic link
    kEntryOther,        // a device, pipe or socket
};
EntryKind LookAtEntry(const HeldFolder *folder, const char *name, PageIdentity *id);

// True when `name` in the folder is still the file (or the link) that `id`
// describes, with the same size and times.
bool EntryIsUnchanged(const HeldFolder *folder, const char *name, const PageIdentity *id);

// Opens the regular file `name` of the folder for reading, never through a
// link and never blocking on a pipe, and takes its identity from the open
// file. False (EISDIR, ELOOP, ...) for anything but a regular file.
bool OpenEntryForReading(const HeldFolder *folder, const char *name, FileHandle *file,
                         PageIdentity *id);

// Removes the entry `name` of the folder if it is still the file `id`
// describes, unchanged; false otherwise.
bool RemoveEntry(const HeldFolder *folder, const char *name, const PageIdentity *id);

// Whether the runner may create files in the folder (a look, for previews:
// the real creation decides).
bool CanCreateIn(const HeldFolder *folder);

// The identity of an open file.
bool FileIdentity(FileHandle file, PageIdentity *id);

// The path of the entry `name` in the folder, for messages and the calls
// that take paths; false when it does not fit.
bool EntryPath(const HeldFolder *folder, const char *name, char *out, size_t size);

// The last component of a path.
const char *FindFileName(const char *path);

// The form in which paths are compared and joined by the companion folder's
// planner: names after '/', letter case folded where the file system folds
// it. POSIX: the path itself. Windows: "C:\dir\a" is "/C:/DIR/A" and
// "\\host\share\a" is "//HOST/SHARE/A", upper case by the system's table,
// in the calls' code page. `utf8`: `text` is UTF-8 (an address read from a
// page), else in the calls' code page. False when the key does not fit in
// `size` bytes, or the text has no form in that code page.
bool PathKey(const char *text, bool utf8, char *out, size_t size);
// The length of the root at the start of a key ("/C:", "//HOST/SHARE"), or
// 0 where the key has none (POSIX: always 0, the root is "/").
size_t PathKeyRoot(const char *key);
// The steps of a walk down a tree of folders (the command line's -r, the
// companion folder's planner; the Windows program's own -r walks by path,
// in ui/batch_win32.cpp).

// Opens the folder `name` of `parent`, never through a link (on Windows,
// never through a junction or any other reparse point): readable where the
// runner may list it (canSync), else only to work in. With `expect`, it
// must be the folder of that volume and file, else ESTALE (Windows:
// ERROR_FILE_INVALID; another folder took the name since it was looked at).
bool OpenSubfolder(const HeldFolder *parent, const char *name, const PageIdentity *expect,
                   HeldFolder *out);

// Gives each name in the folder but "." and ".." to `each`, in the order
// the system keeps them (Windows: a name with no form in the calls' code
// page is left out). False with the error when the folder cannot be
// listed (the names given before the failure stand).
bool ReadFolderNames(const HeldFolder *folder, void (*each)(void *context, const char *name),
                     void *context);

// Opens the folder `name` of `parent`, made first where nothing has the
// name (with the umask's mode); never through a link.
bool MakeSubfolder(const HeldFolder *parent, const char *name, HeldFolder *out);
// Removes the folder `name` of `parent` if it is empty (and a folder, not a
// link); false otherwise.
bool RemoveEmptySubfolder(const HeldFolder *parent, const char *name);

