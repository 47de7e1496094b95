// The Recycle Bin, through the shell's file operation.
#include <windows.h>
#include <shellapi.h>
#include <string.h>
#include "platform/compare.h"
#include "platform/path_win32.h"
#include "platform/trash.h"

enum {
    kShellFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO,       // 0x54
    kEntryPathSize = kFolderPathSize + MAX_PATH,
};

TrashResult TrashEntry(const HeldFolder *from, const char *name, const PageIdentity *id,
                       TrashedFile *out)
{
    out->path[0] = 0;
    // The shell takes lists of paths, each list ended by an empty entry. Its
    // "A" call would take a UTF-8 path no longer than MAX_PATH bytes.
    char path[kEntryPathSize];
    wchar_t list[MAX_PATH + 1];
    if (!EntryPath(from, name, path, sizeof path))
        return kTrashFailed;
    if (!AnsiToWide(path, list, MAX_PATH)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return kTrashFailed;
    }
    list[lstrlenW(list) + 1] = 0;
    if (id && !EntryIsUnchanged(from, name, id))
        return kTrashPageChanged;
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
        return kTrashed;
    SetLastError(result ? (DWORD)result : ERROR_CANCELLED);
    return kTrashFailed;
}

void HoldTrashes(bool)
{
}

bool RestoreTrashed(const TrashedFile *, const HeldFolder *, const char *)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

// The folders where the versions of Windows keep a drive's Recycle Bin.
static const char *const kRecycleFolders[] = {"$Recycle.Bin", "RECYCLER", "RECYCLED"};

static bool IsRecycleFolderName(const char *name)
{
    for (const char *recycle : kRecycleFolders) {
        if (NamesEqualIgnoreCase(name, recycle))
            return true;
    }
    return false;
}

bool IsInsideTrash(const HeldFolder *folder)
{
    char name[MAX_PATH + 1];
    for (const char *p = folder->path; *p;) {
        size_t n = strcspn(p, "\\/");
        if (n > 0 && n < sizeof name) {
            memcpy(name, p, n);
            name[n] = 0;
            if (IsRecycleFolderName(name))
                return true;
        }
        p += n;
        if (*p)
            p++;
    }
    return false;
}

void FindKnownTrashes(KnownTrashes *known)
{
    known->keys = NULL;
    known->count = 0;
}

void FreeKnownTrashes(KnownTrashes *known)
{
    known->count = 0;
}

bool IsTrashFolder(const char *name, const HeldFolder *, const KnownTrashes *)
{
    return IsRecycleFolderName(name);
}

TrashResult TrashEntryAs(const HeldFolder *from, const char *name, const char *asName,
                         const PageIdentity *id, TrashedFile *out)
{
    if (strcmp(name, asName) != 0) {
        out->path[0] = 0;
        out->name[0] = 0;
        SetLastError(ERROR_NOT_SUPPORTED);
        return kTrashFailed;
    }
    return TrashEntry(from, name, id, out);
}
