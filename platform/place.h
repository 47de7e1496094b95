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
// (ReplaceWithNewFile), or swaps names with the old file at once
// (ExchangeWithNewFile, where the old file then leaves from the hidden
// name). A reader sees the old file or the whole new one, never part of
// either, and with the exchange never an empty name; after a power cut the
// name holds one of them.
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
    bool exchanged;             // ExchangeWithNewFile swapped it in: hiddenName
                                // holds the old file, which is never removed here
    int tempSlot;               // its entry among the signal's temporaries, or -1
    char hiddenName[64];        // its name in the folder while it has one; else ""
    char ownName[64];           // the page's leftover name, tried first; else ""
    // What CopyAccess with `exact` could not give it, for the message:
    // kKeptAll, or the owner ("owner:group" in `lost`) or the user
    // attribute (its name in `lost`).
    int lostKind;
    char lost[256];
};
enum { kKeptAll, kLostOwner, kLostAttribute };

// Creates the new file in the folder, readable and writable by its creator only.
bool CreateNewFile(const HeldFolder *folder, NewFile *nf);

// The hidden name a new file made for the page `pageName` tries first
// (".wt" and six letters from the page's name), so that a later run knows
// whose page a file left under it by a killed run was.
void LeftoverName(const char *pageName, char *out, size_t size);

// CreateNewFile for the page `pageName` of the folder: the file tries the
// page's leftover name first, and holds an exclusive flock while it is
// open, which tells a later run that it is no leftover but under way.
bool CreateNewFileFor(const HeldFolder *folder, const char *pageName, NewFile *nf);

// Whether an open file is a run's new file still under way (its flock held).
bool IsNewFileUnderWay(FileHandle file);

// Gives the new file the access of the open file `like` (a file of the
// folder named likeName): owner and group where the runner may set them,
// extended attributes (the ACL among them), then the mode bits, setuid and
// setgid only where the owner was kept; an ACL that the new file inherited
// from its folder goes when `like` has none. Windows: file attributes, DACL
// and the Zone.Identifier stream. With `exact`, false when the ACL or the
// mode cannot be made the same (the caller then keeps the old file), and
// (POSIX) when the owner and group, or a user.* attribute, cannot be given
// (nf->lostKind and nf->lost say which): a page must never change owner,
// or lose what its attributes say, without a word.
bool CopyAccess(FileHandle like, const char *likeName, NewFile *nf, bool exact);

// Sets the mode of a new file that has no file to take it from (POSIX; a
// no-op on Windows).
bool SetNewFileMode(NewFile *nf, unsigned mode);

// Gives the new file a page's modification and access times (PageIdentity's
// `modified` and `accessed`), once its content is written: nothing written
// after changes them.
bool SetNewFileTimes(NewFile *nf, const PageIdentity *like);

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

// Swaps the finished file and the entry `name` in one step: the new file
// takes `name`, and the old file takes the new file's hidden name, from
// where the caller moves it away and then calls ExchangeDone; or calls
// UndoExchange to put both back. 0, kExchangeRefused where the file system
// (or the platform: a Windows Recycle Bin entry must record the page's own
// name) cannot exchange, or the error; nothing changed unless 0.
enum { kExchangeRefused = -1 };
int ExchangeWithNewFile(NewFile *nf, const char *name);
int UndoExchange(NewFile *nf, const char *name);
// The old file has left the hidden name: the new file is placed. The folder
// is synced after. Closes the file.
void ExchangeDone(NewFile *nf);

// Keeps the finished file under a visible free name of its own in the
// folder (after PlaceNewFile failed), whose path goes to `out`. False when
// not even that worked; the file then keeps its hidden name, which goes to
// `out` (empty when it has none). Closes the file.
bool KeepNewFile(NewFile *nf, char *out, size_t size);

// Removes the new file and closes it, whatever state it is in (a placed or
// kept file stays).
void DiscardNewFile(NewFile *nf);
