// Disposal of the original: the free-name search in the target folder and
// the fall-back to the Recycle Bin.
#include "app/dispose.h"
#include <stdio.h>
#include <string.h>
#include "app/report.h"
#include "platform/fs.h"
#include "platform/move.h"

enum { kMaxNameNumber = 999 };  // names tried: name, ~1_name ... ~998_name

// Tries the free names in the target folder; false when the original must
// go to the Recycle Bin instead (a warning has then been shown).
static bool MoveToTargetFolder(const char *pagePath, const char *folder, DisposalOutcome *out)
{
    if (!IsExistingFolder(folder)) {
        ReportWarning(kWarnFolderMissing);
        return false;
    }
    const char *name = FindFileName(pagePath);
    size_t folderLen = strlen(folder);
    bool needSeparator = folderLen == 0 || folder[folderLen - 1] != kPathSeparator;
    size_t nameLen = strlen(name);
    // The limits count in the platform's units, the buffer in bytes.
    size_t folderUnits = PathUnits(folder) + (needSeparator ? 1 : 0);
    size_t nameUnits = PathUnits(name);
    char *dest = out->where;
    for (int n = 0;; n++) {
        char prefix[16] = "";
        if (n > 0)
            snprintf(prefix, sizeof prefix, "~%d_", n);
        size_t prefixLen = strlen(prefix);
        size_t destLen = folderLen + (needSeparator ? 1 : 0);
        if (prefixLen + folderUnits + nameUnits > kDestinationMax ||
            prefixLen + nameUnits > kNameMax || prefixLen + destLen + nameLen >= kDisposalWhereSize) {
            ReportWarning(kWarnNameTooLong);
            break;
        }
        if (n >= kMaxNameNumber) {
            ReportWarning(kWarnCannotMove);
            break;
        }
        memcpy(dest, folder, folderLen);
        if (needSeparator)
            dest[folderLen] = kPathSeparator;
        memcpy(dest + destLen, prefix, prefixLen);
        memcpy(dest + destLen + prefixLen, name, nameLen);
        dest[destLen + prefixLen + nameLen] = 0;
        // A name seen taken is skipped at once; the move itself decides for
        // the others, since another run may take a name after this look.
        if (PathExists(dest))
            continue;
        MoveResult r = MoveOriginal(pagePath, dest);
        if (r == kMoved) {
            out->kind = kDisposedToFolder;
            return true;
        }
        if (r == kMoveNameTaken)
            continue;
        out->error = LastSystemError();
        ReportWarning(kWarnCannotMove);
        break;
    }
    dest[0] = 0;
    return false;
}

void DisposeOriginal(const char *pagePath, bool toRecycleBin, const char *targetFolder,
                     DisposalOutcome *out)
{
    out->kind = kDisposalFailed;
    out->where[0] = 0;
    out->error = 0;
    if (!toRecycleBin && MoveToTargetFolder(pagePath, targetFolder, out))
        return;
    if (RecycleOriginal(pagePath)) {
        out->kind = kDisposedToTrash;
        out->error = 0;
        return;
    }
    out->error = LastSystemError();
}
