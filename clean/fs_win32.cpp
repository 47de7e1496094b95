// File services of a cleaning run on Windows.
#include <windows.h>
#include <string.h>
#include "clean/fs.h"

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
        if (!WriteFile(H(f), p, (DWORD)n, &put, &ov) || put == 0)
            return false;
        p += put;
        n -= put;
        offset += put;
    }
    return true;
}

bool PlatformClose(FileHandle f)
{
    return CloseHandle(H(f)) != 0;
}

PageKind ProbePage(const char *path)
{
    DWORD attr = GetFileAttributesA(path);
    if (attr == INVALID_FILE_ATTRIBUTES)
        return kPageMissing;
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? kPageNotRegular : kPageRegular;
}

bool OpenPageForReading(const char *path, ByteStream *s)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (GetFileType(h) != FILE_TYPE_DISK) {     // a device such as NUL or COM1
        CloseHandle(h);
        return false;
    }
    StreamAttach(s, (FileHandle)h);
    return true;
}

bool CreateTempStream(ByteStream *s)
{
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n > MAX_PATH)
        return false;
    if (!GetTempFileNameA(folder, "wtt", 0, name))
        return false;
    // Private to the run and removed by the system when closed, also when
    // the process dies.
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
        return false;
    }
    StreamAttach(s, (FileHandle)h);
    return true;
}

bool PathExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The folder part of a path, "." when it has none.
static bool FolderOf(const char *path, char *out, size_t size)
{
    const char *cut = NULL;
    for (const char *p = path; *p; p++) {
        if (*p == '\\' || *p == '/' || *p == ':')
            cut = p;
    }
    if (!cut) {
        strcpy(out, ".");
        return true;
    }
    size_t n = (size_t)(cut - path) + 1;        // keep the separator
    if (n >= size)
        return false;
    memcpy(out, path, n);
    out[n] = 0;
    return true;
}

bool CreateNewPage(const char *pagePath, NewPage *np)
{
    np->created = false;
    np->placed = false;
    np->tempPath[0] = 0;
    char folder[MAX_PATH + 1];
    if (!FolderOf(pagePath, folder, sizeof folder))
        return false;
    if (!GetTempFileNameA(folder, "wt", 0, np->tempPath)) {
        np->tempPath[0] = 0;
        return false;
    }
    np->created = true;
    HANDLE h = CreateFileA(np->tempPath, GENERIC_WRITE, 0, NULL, TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileA(np->tempPath);
        np->tempPath[0] = 0;
        np->created = false;
        return false;
    }
    StreamAttach(&np->stream, (FileHandle)h);
    return true;
}

bool FinishNewPage(NewPage *np)
{
    return StreamFlush(&np->stream) && !StreamWriteFailed(&np->stream);
}

bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize)
{
    if (savedAsSize)
        savedAs[0] = 0;
    // A file cannot be renamed while it is open without shared delete.
    if (!StreamClose(&np->stream))
        return false;
    if (MoveFileExA(np->tempPath, pagePath, 0)) {
        np->placed = true;
        np->tempPath[0] = 0;
        return true;
    }
    np->placed = true;                          // kept where it is
    size_t n = strlen(np->tempPath);
    if (n < savedAsSize)
        memcpy(savedAs, np->tempPath, n + 1);
    return false;
}

void DiscardNewPage(NewPage *np)
{
    if (!np->created)
        return;
    if (np->stream.isOpen) {
        np->stream.pos = 0;
        StreamClose(&np->stream);
    }
    if (!np->placed && np->tempPath[0])
        DeleteFileA(np->tempPath);
    np->created = false;
}
