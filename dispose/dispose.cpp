// Disposal of the original: the free-name search in the target folder and
// the fall-back to the Recycle Bin.
#include "dispose/dispose.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/options.h"
#include "clean/fs.h"
#include "clean/report.h"

enum { kMaxNameNumber = 999 };  // names tried: name, ~1_name ... ~998_name

// Tries the free names in TargetFolder; false when the original must go to
// the Recycle Bin instead (a warning has then been shown).
static bool MoveToTargetFolder()
{
    if (!IsExistingFolder(TargetFolder)) {
        ReportWarning(kWarnFolderMissing);
        return false;
    }
    const char *name = FindFileName(CurrentFile);
    size_t folderLen = strlen(TargetFolder);
    bool needSeparator = folderLen == 0 || TargetFolder[folderLen - 1] != kPathSeparator;
    size_t nameLen = strlen(name);
    // Destination, its zero and the second zero of a shell file list.
    char *dest = (char *)malloc(kDestinationMax + 2);
    if (!dest) {
        ReportWarning(kWarnCannotMove);
        return false;
    }
    bool moved = false;
    for (int n = 0;; n++) {
        char prefix[16] = "";
        if (n > 0)
            snprintf(prefix, sizeof prefix, "~%d_", n);
        size_t prefixLen = strlen(prefix);
        size_t destLen = folderLen + (needSeparator ? 1 : 0);
        if (prefixLen + destLen + nameLen > kDestinationMax || prefixLen + nameLen > kNameMax) {
            ReportWarning(kWarnNameTooLong);
            break;
        }
        if (n >= kMaxNameNumber) {
            ReportWarning(kWarnCannotMove);
            break;
        }
        memcpy(dest, TargetFolder, folderLen);
        if (needSeparator)
            dest[folderLen] = kPathSeparator;
        memcpy(dest + destLen, prefix, prefixLen);
        memcpy(dest + destLen + prefixLen, name, nameLen);
        dest[destLen + prefixLen + nameLen] = 0;
        dest[destLen + prefixLen + nameLen + 1] = 0;
        if (PathExists(dest))
            continue;
        if (MoveOriginal(CurrentFile, dest))
            moved = true;
        else
            ReportWarning(kWarnCannotMove);
        break;
    }
    free(dest);
    return moved;
}

void DisposeOriginal()
{
    // The shell takes a list of paths ended by an empty one.
    size_t n = strlen(CurrentFile);
    if (n + 1 < sizeof CurrentFile)
        CurrentFile[n + 1] = 0;
    if (!(CleanOptions & kOptRecycleBin) && MoveToTargetFolder())
        return;
    RecycleOriginal(CurrentFile);
}
