#include "app/options.h"

uint32_t CleanOptions = kDefaultOptions;
char TargetFolder[kTargetFolderSize];
char CurrentFile[kCurrentFileSize];

void ResetOptions()
{
    CleanOptions = (CleanOptions & ~kResetMask) | kDefaultSwitches;
}
