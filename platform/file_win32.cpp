// Open files on Windows: positional reads and writes, and temporary files
// that the system removes.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "platform/file.h"

static HANDLE H(FileHandle f)
{
    return (HANDLE)f;
}

bool (*FileFaultHook)(FileHandle f, bool writing, int64_t offset);

long PlatformReadAt(FileHandle f, void *buf, size_t n, int64_t offset)
{
    if (FileFaultHook && !FileFaultHook(f, false, offset))
        return -1;
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    ov.Offset = (DWORD)(uint64_t)offset;
    ov.OffsetHigh = (DWORD)((uint64_t)offset >> 32);
    DWORD got = 0;
    if (!ReadFile(H(f), buf, (DWORD)n, &got, &ov))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return (long)got;
}

// The system's lazy writer already writes a large file behind as it grows.
void PlatformStartWriting(FileHandle, int64_t, int64_t)
{
}

bool PlatformWriteAt(FileHandle f, const void *buf, size_t n, int64_t offset)
{
    if (FileFaultHook && !FileFaultHook(f, true, offset))
        return false;
    const char *p = (const char *)buf;
    while (n > 0) {
        OVERLAPPED ov;
        memset(&ov, 0, sizeof ov);
        ov.Offset = (DWORD)(uint64_t)offset;
        ov.OffsetHigh = (DWORD)((uint64_t)offset >> 32);
        DWORD put = 0;
        if (!WriteFile(H(f), p, (DWORD)n, &put, &ov))
            return false;
        if (put == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        p += put;
        n -= put;
        offset += put;
    }
    return true;
}

bool PlatformWriteAll(FileHandle f, const void *buf, size_t n)
{
    const char *p = (const char *)buf;
    while (n > 0) {
        DWORD put = 0;
        if (!WriteFile(H(f), p, (DWORD)n, &put, NULL))
            return false;
        if (put == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        p += put;
        n -= put;
    }
    return true;
}

bool PlatformClose(FileHandle f)
{
    return CloseHandle(H(f)) != 0;
}

// Windows has no positional copy between two open handles.
int64_t PlatformCopyRange(FileHandle, int64_t, FileHandle, int64_t, int64_t)
{
    return -1;
}

// The temporary folder is named in UTF-16 throughout: it lies below the
// user's profile, whose name may hold any character.
bool CreateTempFile(FileHandle *file)
{
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH)
        return false;
    if (!GetTempFileNameW(folder, L"wtt", 0, name))
        return false;
    // Private to the run and removed by the system when closed, also when
    // the process dies.
    HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return false;
    }
    *file = (FileHandle)h;
    return true;
}

int LastSystemError()
{
    return (int)GetLastError();
}

void SetLastSystemError(int error)
{
    SetLastError((DWORD)error);
}

void DescribeSystemError(int error, char *out, size_t size)
{
    if (!size)
        return;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                             (DWORD)error, 0, out, (DWORD)size, NULL);
    // The system's text ends in a full stop and a line break.
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ' || out[n - 1] == '.'))
        out[--n] = 0;
    if (n == 0)
        _snprintf(out, size, "error %d", error);
    out[size - 1] = 0;
}
