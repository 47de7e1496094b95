#include "app/options.h"

uint32_t CleanOptions = kDefaultOptions;
char TargetFolder[kTargetFolderSize];
char CurrentFile[kCurrentFileSize];

const int kControlIdByBit[kSwitchCount] = {
    1016, 1013, 1012, 1015, 1019, 1018, 1010, 1014, 1008, 1017, 1011, 1009, 1020, 1028,
};

void ResetOptions()
{
    CleanOptions = (CleanOptions & ~kResetMask) | kDefaultSwitches;
}
