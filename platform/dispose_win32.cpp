// Disposal services on Windows: moves that never replace a file, and the
// shell's file operation for the Recycle Bin.
//
// A failure leaves its code as the thread's last error, where the portable
// disposal reads the reason of the last failure (LastSystemError).
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "platform/move.h"
#include "platform/path_win32.h"

const char kPathSeparator = '\\';
const size_t kDestinationMax = MAX_PATH;
const size_t kNameMax = MAX_PATH;

size_t PathUnits(const char *text)
{
    int units = AnsiUnits(text);
    return units >= 0 ? (size_t)units : strlen(text);
}

enum {
    kShellFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO,       // 0x54
    kTempTries = 100,
};

bool IsExistingFolder(const char *path)
{
    return PathIsDirectoryA(path) != FALSE;
}

const char *FindFileName(const char *path)
{
    return PathFindFileNameA(path);
}

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
    const char *name = PathFindFileNameA(to);
    size_t folderLen = (size_t)(name - to);
    int len = snprintf(out, size, "%.*s~wt%lx.%x.tmp", (int)folderLen, to,
                       (unsigned long)GetCurrentProcessId(), (unsigned)n);
    return len > 0 && (size_t)len < size && PathUnits(out) < MAX_PATH;
}

// Another volume: the copy is made under a hidden name in the target folder,
// complete and flushed, before it takes the free name; only then does the
// original go. Every failure removes the copy again.
static MoveResult MoveAcrossVolumes(const char *from, const char *to)
{
    DWORD attributes = GetFileAttributesA(from);
    char temp[kAnsiPathSize + 1];
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
    if (!MoveFileExA(temp, to, MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        RemoveOwnFile(temp);
        NoteFailure(error);
        return NameTaken(error) ? kMoveNameTaken : kMoveFailed;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(to, attributes);
    if (!RemoveOriginal(from, attributes)) {
        error = GetLastError();
        RemoveOwnFile(to);
        NoteFailure(error);
        return kMoveFailed;
    }
    return kMoved;
}

MoveResult MoveOriginal(const char *from, const char *to)
{
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when the name is
    // taken, however near the other run came; without MOVEFILE_COPY_ALLOWED
    // it stays on one volume.
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH))
        return kMoved;
    DWORD error = GetLastError();
    if (error == ERROR_NOT_SAME_DEVICE)
        return MoveAcrossVolumes(from, to);
    NoteFailure(error);
    return NameTaken(error) ? kMoveNameTaken : kMoveFailed;
}

// The shell takes lists of paths, each list ended by an empty entry. Its
// "A" call would take a UTF-8 path no longer than MAX_PATH bytes.
static bool ToShellList(const char *path, wchar_t *list, int units)
{
    if (!AnsiToWide(path, list, units - 1))
        return false;
    list[lstrlenW(list) + 1] = 0;
    return true;
}

bool RecycleOriginal(const char *path)
{
    wchar_t list[MAX_PATH + 1];
    if (!ToShellList(path, list, MAX_PATH + 1)) {
        NoteFailure(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // Where there is no Recycle Bin the shell would delete the file for good
    // without a word: with FOF_WANTNUKEWARNING it asks first, and a "No"
    // leaves the original in place.
    SHFILEOPSTRUCTW op;
    memset(&op, 0, sizeof op);
    op.hwnd = NULL;
    op.wFunc = FO_DELETE;
    op.pFrom = list;
    op.pTo = NULL;
    op.fFlags = kShellFlags | FOF_WANTNUKEWARNING;
    int result = SHFileOperationW(&op);
    if (result == 0 && !op.fAnyOperationsAborted)
        return true;
    NoteFailure(result ? (DWORD)result : ERROR_CANCELLED);
    return false;
}
