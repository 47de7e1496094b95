// Moves on Windows between held folders: MoveFileEx without replacing on
// one volume; across volumes a hidden copy, complete, flushed and checked
// against the original before it takes the free name, and the original
// removed last.
//
// A failure leaves its code as the thread's last error, where the portable
// disposal reads the reason of the last failure (LastSystemError).
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "platform/move.h"

enum { kTempTries = 100, kEntryPathSize = kFolderPathSize + MAX_PATH };

static void NoteFailure(DWORD error)
{
    SetLastError(error);
}

static bool NameTaken(DWORD error)
{
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Deletes a file of our own, read-only or not.
static void RemoveOwnFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileA(path);
}

// The volume and file index of what the path names folded into one
// nonzero number, 0 when nothing is there.
static uint64_t FileAt(const char *path)
{
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    uint64_t id = 0;
    if (GetFileInformationByHandle(h, &info))
        id = ((uint64_t)(info.dwVolumeSerialNumber ^ info.nFileIndexHigh) << 32 | info.nFileIndexLow) | 1;
    CloseHandle(h);
    return id;
}

// Deletes the original; a read-only one loses that attribute first, as a
// move on one volume would not have asked for it either. The attribute comes
// back when the file stays. A deletion that reports success while the same
// file is still there (Wine on an immutable file) is a failure too.
static bool RemoveOriginal(const char *path, DWORD attributes)
{
    uint64_t before = FileAt(path);
    bool gone = DeleteFileA(path) != 0;
    DWORD error = gone ? 0 : GetLastError();
    if (!gone && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        gone = DeleteFileA(path) != 0;
        error = gone ? 0 : GetLastError();
    }
    if (gone && before && FileAt(path) == before) {
        gone = false;
        error = ERROR_ACCESS_DENIED;
    }
    if (!gone && attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(path, attributes);
    SetLastError(error);
    return gone;
}

// Makes the content of a finished copy reach the disk.
static bool FlushCopy(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = FlushFileBuffers(h) != 0;
    DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return ok;
}

// A hidden temporary name of this process in the folder of `to`, the nth one.
static bool TempNameBeside(const char *to, int n, char *out, size_t size)
{
    const char *name = FindFileName(to);
    size_t folderLen = (size_t)(name - to);
    int len = snprintf(out, size, "%.*s~wt%lx.%x.tmp", (int)folderLen, to,
                       (unsigned long)GetCurrentProcessId(), (unsigned)n);
    return len > 0 && (size_t)len < size && PathUnits(out) < MAX_PATH;
}

// Another volume: the copy is made under a hidden name in the target folder,
// complete and flushed, before it takes the free name; only then does the
// original go. Every failure removes the copy again.
// Whether the file at `path` is the one `id` describes, unchanged.
static bool Unchanged(const char *path, const PageIdentity *id)
{
    if (!id)
        return true;
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    PageIdentity now;
    bool same = FileIdentity((FileHandle)h, &now) && SameIdentity(&now, id);
    CloseHandle(h);
    return same;
}

// Test seam: WEBTRIM_HOLD_COPIED names a file that a move across volumes
// creates once its copy is whole and flushed, and whose removal it awaits
// (a minute at most) before it looks at the original again, so that a test
// can change the original at exactly that moment. Unset, nothing happens.
static void HoldWhenCopied()
{
    enum { kPollMilliseconds = 10, kPolls = 6000 };
    char flag[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("WEBTRIM_HOLD_COPIED", flag, sizeof flag);
    if (n == 0 || n >= sizeof flag)
        return;
    HANDLE h = CreateFileA(flag, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(h);
    for (int i = 0; i < kPolls && GetFileAttributesA(flag) != INVALID_FILE_ATTRIBUTES; i++)
        Sleep(kPollMilliseconds);
}

static MoveResult MoveAcrossVolumes(const char *from, const PageIdentity *id, const char *to)
{
    DWORD attributes = GetFileAttributesA(from);
    char temp[kEntryPathSize];
    bool copied = false;
    DWORD error = 0;
    for (int n = 0; n < kTempTries && !copied; n++) {
        if (!TempNameBeside(to, n, temp, sizeof temp)) {
            NoteFailure(ERROR_FILENAME_EXCED_RANGE);
            return kMoveFailed;
        }
        if (CopyFileExA(from, temp, NULL, NULL, NULL, COPY_FILE_FAIL_IF_EXISTS)) {
            copied = true;
            break;
        }
        error = GetLastError();
        if (!NameTaken(error)) {
            RemoveOwnFile(temp);                // what a failed copy left
            NoteFailure(error);
            return kMoveFailed;
        }
    }
    if (!copied) {
        NoteFailure(error);
        return kMoveFailed;
    }
    // Hidden, and writable for the flush, until it has its name.
    if (!SetFileAttributesA(temp, FILE_ATTRIBUTE_HIDDEN) || !FlushCopy(temp)) {
        error = GetLastError();
        RemoveOwnFile(temp);
        NoteFailure(error);
        return kMoveFailed;
    }
    // Written to or replaced while it was copied: the copy is not the page.
    HoldWhenCopied();
    if (!Unchanged(from, id)) {
        RemoveOwnFile(temp);
        return kMovePageChanged;
    }
    if (!MoveFileExA(temp, to, MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        RemoveOwnFile(temp);
        NoteFailure(error);
        return NameTaken(error) ? kMoveNameTaken : kMoveFailed;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(to, attributes);
    if (!Unchanged(from, id)) {
        RemoveOwnFile(to);
        return kMovePageChanged;
    }
    if (!RemoveOriginal(from, attributes)) {
        error = GetLastError();
        RemoveOwnFile(to);
        NoteFailure(error);
        return kMoveFailed;
    }
    return kMoved;
}

MoveResult MoveEntry(const HeldFolder *from, const char *name, const PageIdentity *id,
                     const HeldFolder *to, const char *toName)
{
    char source[kEntryPathSize], dest[kEntryPathSize];
    if (!EntryPath(from, name, source, sizeof source) || !EntryPath(to, toName, dest, sizeof dest))
        return kMoveFailed;
    if (!Unchanged(source, id))
        return kMovePageChanged;
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when the name is
    // taken, however near the other run came; without MOVEFILE_COPY_ALLOWED
    // it stays on one volume.
    if (MoveFileExA(source, dest, MOVEFILE_WRITE_THROUGH))
        return kMoved;
    DWORD error = GetLastError();
    if (error == ERROR_NOT_SAME_DEVICE)
        return MoveAcrossVolumes(source, id, dest);
    NoteFailure(error);
    return NameTaken(error) ? kMoveNameTaken : kMoveFailed;
}
