// The options word, the target folder and the page path: the process-wide
// values that the window, the command line and a cleaning run share.
#pragma once
#include <stdint.h>

#ifdef _WIN32
enum { kPathMax = 260 };
#else
enum { kPathMax = 4096 };   // PATH_MAX: a page path is not cut at 260 here
#endif

// TargetFolder is stored as a 260-byte zero-terminated string everywhere.
enum { kTargetFolderSize = 260 };
// CurrentFile holds a path of up to kPathMax - 1 bytes, its zero, and one
// more zero so that it doubles as a one-entry list ended by an empty entry.
enum { kCurrentFileSize = kPathMax + 1 };

extern uint32_t CleanOptions;
extern char TargetFolder[kTargetFolderSize];
extern char CurrentFile[kCurrentFileSize];

// Bits of CleanOptions.
enum {
    kOptComments      = 0x0001,
    kOptScripts       = 0x0002,
    kOptStyles        = 0x0004,
    kOptForms         = 0x0008,
    kOptInternet      = 0x0010,
    kOptMeta          = 0x0020,
    kOptPictures      = 0x0040,
    kOptModules       = 0x0080,
    kOptExtract       = 0x0100,
    kOptFrames        = 0x0200,
    kOptBadColors     = 0x0400,
    kOptCutTables     = 0x0800,
    kOptExtractFirst  = 0x1000,
    kOptAnyLayout     = 0x2000,
    kOptSchemeMask    = 0x0F000000,
    kOptSchemeShift   = 24,
    kOptRecycleBin    = 0x10000000,
};

const uint32_t kDefaultOptions = 0x100013BF;
const uint32_t kDefaultSwitches = 0x13BF;      // low 16 bits after "Default"
const uint32_t kAdvancedMask = 0x12BF;         // switches on the Advanced page
enum { kSwitchCount = 14 };                    // bits 0 to 13

// Control id of each switch's check box, indexed by bit number.
extern const int kControlIdByBit[kSwitchCount];

// "Default": the low 16 bits take their defaults; scheme and target stay.
void ResetOptions();
