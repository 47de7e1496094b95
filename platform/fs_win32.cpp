// File services of a cleaning run on Windows.
#include <windows.h>
#include <aclapi.h>
#include <string.h>
#include "platform/fs.h"
#include "platform/path_win32.h"

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

// Windows has no positional copy between two open handles.
int64_t PlatformCopyRange(FileHandle, int64_t, FileHandle, int64_t, int64_t)
{
    return -1;
}

PageKind ProbePage(const char *path)
{
    DWORD attr = GetFileAttributesA(path);
    if (attr == INVALID_FILE_ATTRIBUTES)
        return kPageMissing;
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? kPageNotRegular : kPageRegular;
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
    return true;
}

bool OpenPageForReading(const char *path, FileHandle *file, PageIdentity *id)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // Not a device such as NUL or COM1, and a file that tells who it is.
    if (GetFileType(h) != FILE_TYPE_DISK || !ReadIdentity(h, id)) {
        CloseHandle(h);
        return false;
    }
    *file = (FileHandle)h;
    return true;
}

bool IsSamePage(const char *path, const PageIdentity *id)
{
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    PageIdentity now;
    bool known = ReadIdentity(h, &now);
    CloseHandle(h);
    return known && now.volume == id->volume && now.file == id->file && now.size == id->size &&
           now.modified == id->modified;
}

bool ResolvePagePath(const char *path, char *out, size_t outSize)
{
    size_t n = strlen(path);
    if (n >= outSize)
        return false;
    memcpy(out, path, n + 1);
    return true;
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

// A new file of a unique name in `folder`. The "A" call would give back no
// more than MAX_PATH bytes, which a UTF-8 path can pass.
static bool MakeTempName(const char *folder, char *out, size_t size)
{
    wchar_t wideFolder[MAX_PATH + 1], name[MAX_PATH + 1];
    if (!AnsiToWide(folder, wideFolder, MAX_PATH + 1) ||
        !GetTempFileNameW(wideFolder, L"wt", 0, name))
        return false;
    if (WideToAnsi(name, out, size))
        return true;
    DWORD error = GetLastError();
    DeleteFileW(name);
    SetLastError(error);
    return false;
}

bool CreateNewPage(const char *pagePath, NewPage *np)
{
    np->open = false;
    np->created = false;
    np->placed = false;
    np->tempPath[0] = 0;
    char folder[kAnsiPathSize + 1];
    if (!FolderOf(pagePath, folder, sizeof folder))
        return false;
    if (!MakeTempName(folder, np->tempPath, sizeof np->tempPath)) {
        np->tempPath[0] = 0;
        return false;
    }
    np->created = true;
    // Nobody else opens it while it is written; READ_CONTROL and WRITE_DAC
    // let it take the original's DACL (its owner may always set that).
    HANDLE h = CreateFileA(np->tempPath, GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0, NULL,
                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileA(np->tempPath);
        np->tempPath[0] = 0;
        np->created = false;
        return false;
    }
    np->file = (FileHandle)h;
    np->open = true;
    return true;
}

// The mark of the web: the alternate stream that tells where a file came from.
static const char kZoneStream[] = ":Zone.Identifier";

static bool StreamName(const char *path, char *out, size_t size)
{
    size_t n = strlen(path);
    if (n + sizeof kZoneStream > size)
        return false;
    memcpy(out, path, n);
    memcpy(out + n, kZoneStream, sizeof kZoneStream);
    return true;
}

// Copies the original's Zone.Identifier stream, when it has one, to the new
// page. False only when the copy was begun and could not be written; a
// volume without streams (FAT) is skipped.
static bool CopyZoneStream(const char *pagePath, const char *newPath)
{
    char from[kAnsiPathSize + sizeof kZoneStream], to[kAnsiPathSize + sizeof kZoneStream];
    if (!StreamName(pagePath, from, sizeof from) || !StreamName(newPath, to, sizeof to))
        return true;
    HANDLE in = CreateFileA(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, 0, NULL);
    if (in == INVALID_HANDLE_VALUE)
        return true;
    HANDLE out = CreateFileA(to, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return true;
    }
    char buf[4096];
    DWORD got = 0, put = 0;
    bool ok = true;
    while (ok && ReadFile(in, buf, sizeof buf, &got, NULL) && got > 0)
        ok = WriteFile(out, buf, got, &put, NULL) && put == got;
    ok = ok && FlushFileBuffers(out);
    CloseHandle(out);
    CloseHandle(in);
    if (!ok)
        DeleteFileA(to);
    return ok;
}

static bool SameAcl(PACL a, PACL b)
{
    ACL_SIZE_INFORMATION sa, sb;
    if (!GetAclInformation(a, &sa, sizeof sa, AclSizeInformation) ||
        !GetAclInformation(b, &sb, sizeof sb, AclSizeInformation))
        return false;
    return sa.AceCount == sb.AceCount && sa.AclBytesInUse == sb.AclBytesInUse &&
           memcmp(a + 1, b + 1, sa.AclBytesInUse - sizeof(ACL)) == 0;
}

// Gives the new page the original's DACL, protected from inheritance when
// the original's was. The new page usually inherited the same one already
// from the same folder: then it is left alone.
static void CopyDacl(const char *pagePath, HANDLE h)
{
    PACL dacl = NULL, mine = NULL;
    PSECURITY_DESCRIPTOR sd = NULL, mySd = NULL;
    if (GetNamedSecurityInfoA((LPSTR)pagePath, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                              &dacl, NULL, &sd) != ERROR_SUCCESS)
        return;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    // A file without a DACL (open to all) or on a volume without security
    // keeps what the folder gave the new page.
    if (dacl && GetSecurityDescriptorControl(sd, &control, &revision)) {
        bool protect = (control & SE_DACL_PROTECTED) != 0;
        bool same = false;
        if (GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &mine, NULL,
                            &mySd) == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR_CONTROL myControl = 0;
            same = mine && GetSecurityDescriptorControl(mySd, &myControl, &revision) &&
                   ((myControl & SE_DACL_PROTECTED) != 0) == protect && SameAcl(dacl, mine);
            LocalFree(mySd);
        }
        if (!same) {
            SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                (protect ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
            SetSecurityInfo(h, SE_FILE_OBJECT, what, NULL, NULL, dacl, NULL);
        }
    }
    LocalFree(sd);
}

// Attributes a file can be given. The cleaned page is a written file, so it
// is always marked for the next backup.
enum {
    kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED,
};

bool KeepPageAttributes(const char *pagePath, NewPage *np)
{
    if (!np->tempPath[0])
        return true;
    // The stream first, while the new page is not yet read-only.
    if (!CopyZoneStream(pagePath, np->tempPath))
        return false;
    CopyDacl(pagePath, H(np->file));
    DWORD attributes = GetFileAttributesA(pagePath);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(np->tempPath, (attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    return true;
}

bool FinishNewPage(NewPage *np)
{
    return FlushFileBuffers(H(np->file)) != 0;
}

void HoldTerminationSignals(bool)
{
}

// Where a file system keeps streams under names of their own (Wine on a Unix
// file system), the new page's stream must follow it or go with it; on
// Windows it already did and its name no longer resolves.
static void SettleZoneStream(const char *tempPath, const char *pagePath)
{
    char from[kAnsiPathSize + sizeof kZoneStream], to[kAnsiPathSize + sizeof kZoneStream];
    if (!StreamName(tempPath, from, sizeof from) ||
        GetFileAttributesA(from) == INVALID_FILE_ATTRIBUTES)
        return;
    if (!pagePath || !StreamName(pagePath, to, sizeof to) ||
        !MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(from);
}

bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize)
{
    if (savedAsSize)
        savedAs[0] = 0;
    // A file cannot be renamed while it is open without shared delete.
    np->open = false;
    if (!PlatformClose(np->file))
        return false;
    if (MoveFileExA(np->tempPath, pagePath, MOVEFILE_WRITE_THROUGH)) {
        SettleZoneStream(np->tempPath, pagePath);
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
    if (np->open) {
        np->open = false;
        PlatformClose(np->file);
    }
    if (!np->placed && np->tempPath[0]) {
        SettleZoneStream(np->tempPath, NULL);
        // It may have taken a read-only original's attributes already.
        SetFileAttributesA(np->tempPath, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(np->tempPath);
    }
    np->created = false;
}

int LastSystemError()
{
    return (int)GetLastError();
}
