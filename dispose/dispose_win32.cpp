// Disposal services on Windows: the shell's file operation moves the
// original, or deletes it into the Recycle Bin.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <string.h>
#include "dispose/dispose.h"

const char kPathSeparator = '\\';
const size_t kDestinationMax = MAX_PATH;
const size_t kNameMax = MAX_PATH;

enum {
    kShellFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO,       // 0x54
};

bool IsExistingFolder(const char *path)
{
    return PathIsDirectoryA(path) != FALSE;
}

const char *FindFileName(const char *path)
{
    return PathFindFileNameA(path);
}

// The shell takes lists of paths, each list ended by an empty entry.
static bool ToShellList(const char *path, char *list, size_t size)
{
    size_t n = strlen(path);
    if (n + 2 > size)
        return false;
    memcpy(list, path, n);
    list[n] = 0;
    list[n + 1] = 0;
    return true;
}

bool MoveOriginal(const char *from, const char *to)
{
    char src[MAX_PATH + 2], dst[MAX_PATH + 2];
    if (!ToShellList(from, src, sizeof src) || !ToShellList(to, dst, sizeof dst))
        return false;
    SHFILEOPSTRUCTA op;
    memset(&op, 0, sizeof op);
    op.hwnd = NULL;
    op.wFunc = FO_MOVE;
    op.pFrom = src;
    op.pTo = dst;
    op.fFlags = kShellFlags;
    return SHFileOperationA(&op) == 0;
}

bool RecycleOriginal(const char *path)
{
    char src[MAX_PATH + 2];
    if (!ToShellList(path, src, sizeof src))
        return false;
    SHFILEOPSTRUCTA op;
    memset(&op, 0, sizeof op);
    op.hwnd = NULL;
    op.wFunc = FO_DELETE;
    op.pFrom = src;
    // Where there is no Recycle Bin the shell would delete the file for good
    // without a word: with FOF_WANTNUKEWARNING it asks first, and a "No"
    // leaves the original in place.
    op.fFlags = kShellFlags | FOF_WANTNUKEWARNING;
    return SHFileOperationA(&op) == 0 && !op.fAnyOperationsAborted;
}
