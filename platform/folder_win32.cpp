// Held folders on Windows: the folder opened without delete sharing, so
// that it (and every folder above it) can be neither renamed nor removed
// while the run holds it, and its full path for the calls, which take paths.
#include <windows.h>
#include <string.h>
#include "platform/folder.h"
#include "platform/path_win32.h"

const char kPathSeparator = '\\';
const size_t kDestinationMax = MAX_PATH;
const size_t kNameMax = MAX_PATH;

size_t PathUnits(const char *text)
{
    int units = AnsiUnits(text);
    return units >= 0 ? (size_t)units : strlen(text);
}

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

static bool ReadIdentity(HANDLE h, PageIdentity *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return false;
    id->volume = info.dwVolumeSerialNumber;
    id->file = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    id->size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    id->modified = (int64_t)(((uint64_t)info.ftLastWriteTime.dwHighDateTime << 32) |
                             info.ftLastWriteTime.dwLowDateTime);
    id->changed = 0;
    id->accessed = (int64_t)(((uint64_t)info.ftLastAccessTime.dwHighDateTime << 32) |
                             info.ftLastAccessTime.dwLowDateTime);
    return true;
}

bool SameIdentity(const PageIdentity *a, const PageIdentity *b)
{
    return a->volume == b->volume && a->file == b->file && a->size == b->size &&
           a->modified == b->modified && a->changed == b->changed;
}

// Opens and holds the folder at the absolute path `full` (no separator at
// its end but a root's).
static bool Hold(const char *full, HeldFolder *folder)
{
    DWORD attr = GetFileAttributesA(full);
    if (attr == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    HANDLE h = CreateFileA(full, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    folder->handle = (FileHandle)h;
    folder->open = true;
    folder->canSync = false;
    size_t n = strlen(full);
    memcpy(folder->path, full, n + 1);
    return true;
}

// The absolute form of `path`; false when it does not fit.
static bool FullPath(const char *path, char *out, size_t size)
{
    DWORD n = GetFullPathNameA(path, (DWORD)size, out, NULL);
    if (n == 0)
        return false;
    if (n >= size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

// Cuts a separator off the end of a folder's path, but a root's ("C:\").
static void TrimSeparator(char *path)
{
    size_t n = strlen(path);
    while (n > 3 && IsSeparator(path[n - 1]))
        path[--n] = 0;
}

bool OpenHeldFolder(const char *path, HeldFolder *folder)
{
    folder->open = false;
    folder->path[0] = 0;
    char full[kFolderPathSize];
    if (!*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (!FullPath(path, full, sizeof full))
        return false;
    TrimSeparator(full);
    return Hold(full, folder);
}

bool OpenPageFolder(const char *pagePath, HeldFolder *folder, char *name, size_t nameSize)
{
    return OpenLinkedPageFolder(pagePath, folder, name, nameSize, 0);
}

// The page's name is taken as it is written: a reparse point at it is
// judged when it is opened (OpenEntryForReading), on its handle.
bool OpenLinkedPageFolder(const char *pagePath, HeldFolder *folder, char *name, size_t nameSize,
                          PageIdentity *reached)
{
    if (reached)
        memset(reached, 0, sizeof *reached);
    folder->open = false;
    folder->path[0] = 0;
    if (nameSize)
        name[0] = 0;
    char full[kFolderPathSize];
    if (!*pagePath) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!FullPath(pagePath, full, sizeof full))
        return false;
    size_t n = strlen(full);
    if (n == 0 || IsSeparator(full[n - 1])) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    char *cut = full + n;
    while (cut > full && !IsSeparator(cut[-1]))
        cut--;
    size_t nameLength = strlen(cut);
    if (cut == full || nameLength >= nameSize) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memcpy(name, cut, nameLength + 1);
    *cut = 0;
    TrimSeparator(full);
    if (!Hold(full, folder)) {
        name[0] = 0;
        return false;
    }
    return true;
}

void CloseHeldFolder(HeldFolder *folder)
{
    if (folder->open)
        CloseHandle((HANDLE)folder->handle);
    folder->open = false;
}

bool SyncHeldFolder(const HeldFolder *)
{
    // The moves and renames are made with MOVEFILE_WRITE_THROUGH.
    return true;
}

bool EntryPath(const HeldFolder *folder, const char *name, char *out, size_t size)
{
    size_t a = strlen(folder->path), b = strlen(name);
    bool sep = a > 0 && !IsSeparator(folder->path[a - 1]);
    if (a + (sep ? 1 : 0) + b + 1 > size) {
        if (size)
            out[0] = 0;
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memcpy(out, folder->path, a);
    if (sep)
        out[a++] = '\\';
    memcpy(out + a, name, b + 1);
    return true;
}

EntryKind LookAtEntry(const HeldFolder *folder, const char *name, PageIdentity *id)
{
    char path[kFolderPathSize + MAX_PATH];
    if (!EntryPath(folder, name, path, sizeof path))
        return kEntryMissing;
    DWORD attr = GetFileAttributesA(path);
    if (attr == INVALID_FILE_ATTRIBUTES)
        return kEntryMissing;
    // A junction or a link to a folder is a link, never a folder to enter.
    if ((attr & FILE_ATTRIBUTE_DIRECTORY) && !(attr & FILE_ATTRIBUTE_REPARSE_POINT) && !id)
        return kEntryFolder;
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           NULL);
    if (h == INVALID_HANDLE_VALUE)
        return kEntryMissing;
    EntryKind kind = kEntryFile;
    if (GetFileType(h) != FILE_TYPE_DISK)
        kind = kEntryOther;
    else if (attr & FILE_ATTRIBUTE_REPARSE_POINT)
        kind = kEntryLink;
    else if (attr & FILE_ATTRIBUTE_DIRECTORY)
        kind = kEntryFolder;
    PageIdentity mine;
    if (!ReadIdentity(h, id ? id : &mine) && kind == kEntryFile)
        kind = kEntryOther;
    CloseHandle(h);
    return kind;
}

bool EntryIsUnchanged(const HeldFolder *folder, const char *name, const PageIdentity *id)
{
    PageIdentity now;
    return LookAtEntry(folder, name, &now) == kEntryFile && SameIdentity(&now, id);
}

bool RemoveEntry(const HeldFolder *folder, const char *name, const PageIdentity *id)
{
    char path[kFolderPathSize + MAX_PATH];
    return EntryIsUnchanged(folder, name, id) && EntryPath(folder, name, path, sizeof path) &&
           DeleteFileA(path);
}

bool CanCreateIn(const HeldFolder *)
{
    return true;
}

bool FileIdentity(FileHandle file, PageIdentity *id)
{
    return ReadIdentity((HANDLE)file, id);
}

// Whether the open reparse point `h` stands for another name (a symbolic
// link, a junction): what it leads to was never judged, so it is not read.
// Other reparse points (cloud placeholders, deduplicated files) hold the
// file's own data.
static bool IsNameSurrogate(HANDLE h)
{
    static DWORD data[16 * 1024 / sizeof(DWORD)];   // MAXIMUM_REPARSE_DATA_BUFFER_SIZE
    DWORD got = 0;
    if (!DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, NULL, 0, data, sizeof data, &got, NULL) ||
        got < sizeof(DWORD))
        return true;            // cannot tell: taken for a link
    return IsReparseTagNameSurrogate(data[0]);
}

// The page is opened once without following a reparse point, and judged
// on that handle: a link is refused; any other file is read through a
// handle that must be the same file (volume and index), never through a
// second look at the name alone. (Built for Windows; Wine makes no
// reparse points, so this is not tested there.)
bool OpenEntryForReading(const HeldFolder *folder, const char *name, FileHandle *file,
                         PageIdentity *id)
{
    char path[kFolderPathSize + MAX_PATH];
    if (!EntryPath(folder, name, path, sizeof path))
        return false;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                           NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION seen;
    if (!GetFileInformationByHandle(h, &seen)) {
        DWORD error = GetLastError();
        CloseHandle(h);
        SetLastError(error);
        return false;
    }
    if (seen.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        bool link = IsNameSurrogate(h);
        CloseHandle(h);
        if (link) {
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return false;
        }
        // Its data comes through the file system's filter: opened again,
        // and it must be the file just judged.
        h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        BY_HANDLE_FILE_INFORMATION now;
        if (h != INVALID_HANDLE_VALUE &&
            (!GetFileInformationByHandle(h, &now) || now.dwVolumeSerialNumber != seen.dwVolumeSerialNumber ||
             now.nFileIndexHigh != seen.nFileIndexHigh || now.nFileIndexLow != seen.nFileIndexLow)) {
            CloseHandle(h);
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return false;
        }
        if (h == INVALID_HANDLE_VALUE)
            return false;
    }
    // Not a device such as NUL or COM1, and a file that tells who it is.
    PageIdentity mine;
    if (GetFileType(h) != FILE_TYPE_DISK || !ReadIdentity(h, id ? id : &mine)) {
        CloseHandle(h);
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    *file = (FileHandle)h;
    return true;
}

const char *FindFileName(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; p++) {
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    }
    return name;
}

// ---- The steps of a walk down a tree of folders

// Opens the folder at `path` without following a reparse point at its end:
// a junction or a link in its place is refused (ERROR_CANT_ACCESS_FILE).
// With `expect`, it must be that folder (ERROR_FILE_INVALID otherwise).
static bool HoldEntryFolder(const char *path, const PageIdentity *expect, HeldFolder *out)
{
    out->open = false;
    out->path[0] = 0;
    HANDLE h = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    PageIdentity id;
    DWORD error = 0;
    if (!GetFileInformationByHandle(h, &info) || !ReadIdentity(h, &id))
        error = GetLastError();
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ERROR_DIRECTORY;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        error = ERROR_CANT_ACCESS_FILE;
    else if (expect && !SameFile(&id, expect))
        error = ERROR_FILE_INVALID;
    if (error) {
        CloseHandle(h);
        SetLastError(error);
        return false;
    }
    out->handle = (FileHandle)h;
    out->open = true;
    out->canSync = false;
    memcpy(out->path, path, strlen(path) + 1);
    return true;
}

bool OpenSubfolder(const HeldFolder *parent, const char *name, const PageIdentity *expect,
                   HeldFolder *out)
{
    char path[kFolderPathSize + MAX_PATH];
    out->open = false;
    if (!EntryPath(parent, name, path, sizeof path))
        return false;
    if (strlen(path) >= kFolderPathSize) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return HoldEntryFolder(path, expect, out);
}

// The names are read in UTF-16 and given in the calls' text; a name that
// has no form there cannot be named by the calls and is left out.
bool ReadFolderNames(const HeldFolder *folder, void (*each)(void *context, const char *name),
                     void *context)
{
    char pattern[kFolderPathSize + 2];
    wchar_t wide[MAX_PATH + 2];
    if (!EntryPath(folder, "*", pattern, sizeof pattern))
        return false;
    if (!AnsiToWide(pattern, wide, MAX_PATH + 2)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        char name[kAnsiPathSize];
        if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0)
            continue;
        if (WideToAnsi(found.cFileName, name, sizeof name))
            each(context, name);
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    SetLastError(error);
    return error == ERROR_NO_MORE_FILES;
}

bool MakeSubfolder(const HeldFolder *parent, const char *name, HeldFolder *out)
{
    char path[kFolderPathSize + MAX_PATH];
    out->open = false;
    if (!EntryPath(parent, name, path, sizeof path))
        return false;
    if (!CreateDirectoryA(path, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return OpenSubfolder(parent, name, nullptr, out);
}

bool RemoveEmptySubfolder(const HeldFolder *parent, const char *name)
{
    // RemoveDirectory would take a junction away as well: only a folder.
    char path[kFolderPathSize + MAX_PATH];
    PageIdentity id;
    return LookAtEntry(parent, name, &id) == kEntryFolder && EntryPath(parent, name, path, sizeof path) &&
           RemoveDirectoryA(path);
}

// ---- Paths as the companion planner compares them

bool PathKey(const char *text, bool utf8, char *out, size_t size)
{
    wchar_t wide[kFolderPathSize + 2];
    int n = MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide + 1,
                                kFolderPathSize);
    if (n <= 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    wchar_t *key = wide + 1;
    for (wchar_t *p = key; *p; p++) {
        if (*p == L'\\')
            *p = L'/';
    }
    // A drive's path starts with its letter: the key starts with '/' all the same.
    if (key[0] && key[1] == L':') {
        key = wide;
        key[0] = L'/';
    }
    CharUpperBuffW(key, (DWORD)lstrlenW(key));
    return WideToAnsi(key, out, size);
}

size_t PathKeyRoot(const char *key)
{
    if (key[0] == '/' && key[1] && key[1] != '/' && key[2] == ':')
        return 3;
    if (key[0] != '/' || key[1] != '/')
        return 0;
    // "//HOST/SHARE": the host and the share.
    const char *p = strchr(key + 2, '/');
    if (!p)
        return strlen(key);
    const char *end = strchr(p + 1, '/');
    return end ? (size_t)(end - key) : strlen(key);
}
