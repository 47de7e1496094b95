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

// One shell file operation on one file, without an owner window.
static bool ShellOperation(UINT func, const char *from, const char *to, FILEOP_FLAGS flags)
{
    char src[MAX_PATH + 2], dst[MAX_PATH + 2];
    if (!ToShellList(from, src, sizeof src) || (to && !ToShellList(to, dst, sizeof dst)))
        return false;
    SHFILEOPSTRUCTA op;
    memset(&op, 0, sizeof op);
    op.hwnd = NULL;
    op.wFunc = func;
    op.pFrom = src;
    op.pTo = to ? dst : NULL;
    op.fFlags = flags;
    return SHFileOperationA(&op) == 0 && !op.fAnyOperationsAborted;
}

bool MoveOriginal(const char *from, const char *to)
{
    return ShellOperation(FO_MOVE, from, to, kShellFlags);
}

bool RecycleOriginal(const char *path)
{
    // Where there is no Recycle Bin the shell would delete the file for good
    // without a word: with FOF_WANTNUKEWARNING it asks first, and a "No"
    // leaves the original in place.
    return ShellOperation(FO_DELETE, path, NULL, kShellFlags | FOF_WANTNUKEWARNING);
}
