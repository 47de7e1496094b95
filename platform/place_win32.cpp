// New files on Windows: a temporary file of the system's naming in the held
// folder, opened for this process alone while it is written, then moved to
// its real name (MoveFileEx, without or with replacing).
#include <windows.h>
#include <aclapi.h>
#include <stdio.h>
#include <string.h>
#include "platform/place.h"
#include "platform/file.h"
#include "platform/path_win32.h"

enum { kNameTries = 100, kEntryPathSize = kFolderPathSize + MAX_PATH };

static HANDLE H(FileHandle f)
{
    return (HANDLE)f;
}

static bool PathOf(const NewFile *nf, const char *name, char *out)
{
    return EntryPath(nf->folder, name, out, kEntryPathSize);
}

// A new file of a unique name in `folder`. The "A" call would give back no
// more than MAX_PATH bytes, which a UTF-8 path can pass.
static bool MakeTempName(const char *folder, char *out, size_t size)
{
    wchar_t wideFolder[MAX_PATH + 1], name[MAX_PATH + 1];
    if (!AnsiToWide(folder, wideFolder, MAX_PATH + 1) || !GetTempFileNameW(wideFolder, L"wt", 0, name))
        return false;
    if (WideToAnsi(name, out, size))
        return true;
    DWORD error = GetLastError();
    DeleteFileW(name);
    SetLastError(error);
    return false;
}

bool CreateNewFileFor(const HeldFolder *folder, const char *, NewFile *nf)
{
    return CreateNewFile(folder, nf);
}

// A new file is opened without sharing: no other run opens it at all.
bool IsNewFileUnderWay(FileHandle)
{
    return false;
}

void LeftoverName(const char *, char *out, size_t size)
{
    if (size)
        out[0] = 0;
}

bool CreateNewFile(const HeldFolder *folder, NewFile *nf)
{
    nf->folder = folder;
    nf->open = false;
    nf->created = false;
    nf->placed = false;
    nf->exchanged = false;
    nf->ownName[0] = 0;
    nf->lostKind = kKeptAll;
    nf->lost[0] = 0;
    nf->tempSlot = -1;
    nf->hiddenName[0] = 0;
    char path[kEntryPathSize];
    if (!MakeTempName(folder->path, path, sizeof path))
        return false;
    const char *name = FindFileName(path);
    if (strlen(name) >= sizeof nf->hiddenName) {
        DeleteFileA(path);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memcpy(nf->hiddenName, name, strlen(name) + 1);
    nf->created = true;
    // Nobody else opens it while it is written; READ_CONTROL and WRITE_DAC
    // let it take the original's DACL (its owner may always set that).
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0, NULL,
                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        DeleteFileA(path);
        nf->hiddenName[0] = 0;
        nf->created = false;
        SetLastError(error);
        return false;
    }
    nf->file = (FileHandle)h;
    nf->open = true;
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
// file. False only when the copy was begun and could not be written; a
// volume without streams (FAT) is skipped.
static bool CopyZoneStream(const char *likePath, const char *newPath)
{
    char from[kEntryPathSize + sizeof kZoneStream], to[kEntryPathSize + sizeof kZoneStream];
    if (!StreamName(likePath, from, sizeof from) || !StreamName(newPath, to, sizeof to))
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
    DWORD got = 0;
    bool ok = true;
    while (ok && ReadFile(in, buf, sizeof buf, &got, NULL) && got > 0)
        ok = PlatformWriteAll((FileHandle)out, buf, got);
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

// Gives the new file the DACL of `like`, protected from inheritance when
// that one's was. The new file usually inherited the same one already from
// the same folder: then it is left alone. False when it differs and cannot
// be set.
static bool CopyDacl(HANDLE like, HANDLE h)
{
    PACL dacl = NULL, mine = NULL;
    PSECURITY_DESCRIPTOR sd = NULL, mySd = NULL;
    if (GetSecurityInfo(like, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &dacl, NULL,
                        &sd) != ERROR_SUCCESS)
        return true;            // a volume without security: nothing to keep
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool ok = true;
    // A file without a DACL (open to all) keeps what the folder gave the
    // new file.
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
            ok = SetSecurityInfo(h, SE_FILE_OBJECT, what, NULL, NULL, dacl, NULL) == ERROR_SUCCESS;
        }
    }
    LocalFree(sd);
    return ok;
}

// Attributes a file can be given. The new file is a written file, so it is
// always marked for the next backup.
enum {
    kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED,
};

bool CopyAccess(FileHandle like, const char *likeName, NewFile *nf, bool exact)
{
    char likePath[kEntryPathSize], newPath[kEntryPathSize];
    if (!nf->hiddenName[0] || !PathOf(nf, likeName, likePath) || !PathOf(nf, nf->hiddenName, newPath))
        return !exact;
    // The stream first, while the new file is not yet read-only.
    if (!CopyZoneStream(likePath, newPath))
        return false;
    if (!CopyDacl(H(like), H(nf->file)) && exact)
        return false;
    DWORD attributes = GetFileAttributesA(likePath);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(newPath, (attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    return true;
}

bool SetNewFileMode(NewFile *, unsigned)
{
    return true;
}

bool SetNewFileTimes(NewFile *nf, const PageIdentity *like)
{
    FILETIME access, write;
    access.dwLowDateTime = (DWORD)((uint64_t)like->accessed & 0xFFFFFFFFu);
    access.dwHighDateTime = (DWORD)((uint64_t)like->accessed >> 32);
    write.dwLowDateTime = (DWORD)((uint64_t)like->modified & 0xFFFFFFFFu);
    write.dwHighDateTime = (DWORD)((uint64_t)like->modified >> 32);
    return SetFileTime(H(nf->file), NULL, &access, &write) != 0;
}

bool FinishNewFile(NewFile *nf)
{
    return FlushFileBuffers(H(nf->file)) != 0;
}

// Where a file system keeps streams under names of their own (Wine on a Unix
// file system), the new file's stream must follow it or go with it; on
// Windows it already did and its name no longer resolves.
static void SettleZoneStream(const char *tempPath, const char *finalPath)
{
    char from[kEntryPathSize + sizeof kZoneStream], to[kEntryPathSize + sizeof kZoneStream];
    if (!StreamName(tempPath, from, sizeof from) ||
        GetFileAttributesA(from) == INVALID_FILE_ATTRIBUTES)
        return;
    if (!finalPath || !StreamName(finalPath, to, sizeof to) ||
        !MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(from);
}

static void CloseNewFile(NewFile *nf)
{
    if (nf->open) {
        nf->open = false;
        PlatformClose(nf->file);
    }
}

// Moves the new file to `name`: 0 or the error.
static DWORD MoveTo(NewFile *nf, const char *name, bool replace)
{
    char from[kEntryPathSize], to[kEntryPathSize];
    if (!nf->hiddenName[0] || !PathOf(nf, nf->hiddenName, from) || !PathOf(nf, name, to))
        return ERROR_FILENAME_EXCED_RANGE;
    // A file cannot be renamed while it is open without shared delete.
    CloseNewFile(nf);
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExA(from, to, flags))
        return GetLastError();
    SettleZoneStream(from, to);
    nf->hiddenName[0] = 0;
    nf->placed = true;
    return 0;
}

int PlaceNewFile(NewFile *nf, const char *name)
{
    DWORD error = MoveTo(nf, name, false);
    SetLastError(error);
    return (int)error;
}

bool ReplaceWithNewFile(NewFile *nf, const char *name)
{
    DWORD error = MoveTo(nf, name, true);
    SetLastError(error);
    return error == 0;
}

// Never on Windows: the original goes to the Recycle Bin from its own
// name, which its entry there records for Restore.
int ExchangeWithNewFile(NewFile *, const char *)
{
    return kExchangeRefused;
}

int UndoExchange(NewFile *, const char *)
{
    return ERROR_INVALID_FUNCTION;
}

void ExchangeDone(NewFile *)
{
}

bool KeepNewFile(NewFile *nf, char *out, size_t size)
{
    CloseNewFile(nf);
    if (size)
        out[0] = 0;
    // It keeps the name it has had from the start.
    if (nf->hiddenName[0]) {
        EntryPath(nf->folder, nf->hiddenName, out, size);
        nf->placed = true;
    }
    return false;
}

void DiscardNewFile(NewFile *nf)
{
    if (!nf->created)
        return;
    CloseNewFile(nf);
    char path[kEntryPathSize];
    if (!nf->placed && nf->hiddenName[0] && PathOf(nf, nf->hiddenName, path)) {
        SettleZoneStream(path, NULL);
        // It may have taken a read-only original's attributes already.
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }
    nf->created = false;
}
