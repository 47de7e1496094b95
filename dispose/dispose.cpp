// Disposal of the original: the free-name search in the target folder and
// the fall-back to the Recycle Bin.
#include "dispose/dispose.h"
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include "clean/fs.h"
#include "clean/report.h"

enum { kMaxNameNumber = 999 };  // names tried: name, ~1_name ... ~998_name

// Tries the free names in targetFolder; false when the original must go to
// the Recycle Bin instead (a warning has then been shown).
static bool MoveToTargetFolder(const char *pagePath, const char *targetFolder, DisposalOutcome *out)
{
    if (!IsExistingFolder(targetFolder)) {
        ReportWarning(kWarnFolderMissing);
        return false;
    }
    const char *name = FindFileName(pagePath);
    size_t folderLen = strlen(targetFolder);
    bool needSeparator = folderLen == 0 || targetFolder[folderLen - 1] != kPathSeparator;
    size_t nameLen = strlen(name);
    char *dest = out->where;
    for (int n = 0;; n++) {
        char prefix[16] = "";
        if (n > 0)
            snprintf(prefix, sizeof prefix, "~%d_", n);
        size_t prefixLen = strlen(prefix);
        size_t destLen = folderLen + (needSeparator ? 1 : 0);
        if (prefixLen + destLen + nameLen > kDestinationMax || prefixLen + nameLen > kNameMax ||
            prefixLen + destLen + nameLen >= sizeof out->where) {
            ReportWarning(kWarnNameTooLong);
            break;
        }
        if (n >= kMaxNameNumber) {
            ReportWarning(kWarnCannotMove);
            break;
        }
        memcpy(dest, targetFolder, folderLen);
        if (needSeparator)
            dest[folderLen] = kPathSeparator;
        memcpy(dest + destLen, prefix, prefixLen);
        memcpy(dest + destLen + prefixLen, name, nameLen);
        dest[destLen + prefixLen + nameLen] = 0;
        if (PathExists(dest))
            continue;
        // Another run may take the same name first: the move then refuses
        // it and the next name is tried.
        MoveResult moved = MoveOriginal(pagePath, dest);
        if (moved == kMoved)
            return true;
        if (moved == kMoveNameTaken)
            continue;
        out->error = errno;
        ReportWarning(kWarnCannotMove);
        break;
    }
    dest[0] = 0;
    return false;
}

void DisposeOriginal(const char *pagePath, bool toRecycleBin, const char *targetFolder, DisposalOutcome *out)
{
    out->kind = kDisposalFailed;
    out->where[0] = 0;
    out->error = 0;
    if (!toRecycleBin && MoveToTargetFolder(pagePath, targetFolder, out)) {
        out->kind = kDisposedToFolder;
        return;
    }
    if (RecycleOriginal(pagePath))
        out->kind = kDisposedToTrash;
    else
        out->error = errno;
}
