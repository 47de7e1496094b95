// Writing a file safely and putting it in place: the one way every new file
// of the program is made (the cleaned page, the output of -o, the settings
// file). One implementation per platform: place_posix.cpp, place_win32.cpp.
//
// The file is created in the folder it is meant for, with no visible name
// (an anonymous file where the file system has them, else a hidden name
// that a termination signal removes), private to its creator. The caller
// writes it through its handle and flushes; FinishNewFile gives it what the
// old file had, syncs it to the disk and gives it a hidden name; only then
// does it take its real name, by a rename that either never replaces
// anything (PlaceNewFile) or replaces the old file at once
// (ReplaceWithNewFile). A reader sees the old file or the whole new one,
// never part of either; after a power cut the name holds one of them.
#pragma once
#include <stddef.h>
#include "platform/file.h"
#include "platform/folder.h"

struct NewFile {
    FileHandle file;
    const HeldFolder *folder;   // must stay open while the new file is used
    bool open;                  // `file` is still open
    bool created;
    bool placed;                // it has its real name, or was kept under another
    int tempSlot;               // its entry among the signal's temporaries, or -1
    char hiddenName[64];        // its name in the folder while it has one; else ""
};

// Creates the new file in the folder, readable and writable by its creator only.
bool CreateNewFile(const HeldFolder *folder, NewFile *nf);

// Gives the new file the access of the open file `like` (a file of the
// folder named likeName): owner and group where the runner may set them,
// extended attributes (the ACL among them), then the mode bits, setuid and
// setgid only where the owner was kept; an ACL that the new file inherited
// from its folder goes when `like` has none. Windows: file attributes, DACL
// and the Zone.Identifier stream. With `exact`, false when the ACL or the
// mode cannot be made the same (the caller then keeps the old file).
bool CopyAccess(FileHandle like, const char *likeName, NewFile *nf, bool exact);

// Sets the mode of a new file that has no file to take it from (POSIX; a
// no-op on Windows).
bool SetNewFileMode(NewFile *nf, unsigned mode);

// The content, written and flushed by the caller, goes to the disk, and the
// file gets a hidden name in its folder (if it had none).
bool FinishNewFile(NewFile *nf);

// Gives the finished file the name `name`, never over anything there:
// 0, or the error (EEXIST / ERROR_ALREADY_EXISTS when the name is taken).
// The folder is synced after (SyncFolderLater: perhaps with a batch's
// flush). Closes the file on success.
int PlaceNewFile(NewFile *nf, const char *name);

// Gives the finished file the name `name` in place of the file there, at
// once. The folder is synced after (SyncFolderLater). Closes the file on
// success.
bool ReplaceWithNewFile(NewFile *nf, const char *name);

// Keeps the finished file under a visible free name of its own in the
// folder (after PlaceNewFile failed), whose path goes to `out`. False when
// not even that worked; the file then keeps its hidden name, which goes to
// `out` (empty when it has none). Closes the file.
bool KeepNewFile(NewFile *nf, char *out, size_t size);

// Removes the new file and closes it, whatever state it is in (a placed or
// kept file stays).
void DiscardNewFile(NewFile *nf);
