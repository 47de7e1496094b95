// The options word, the target folder and the page path: the process-wide
// values that the window, the command line and a cleaning run share.
#pragma once
#include <stdint.h>
#include "clean/switches.h"     // the bits of the word and its defaults

#ifdef _WIN32
// Windows takes paths of up to 259 UTF-16 units; in the ANSI code page, which
// may be UTF-8, that is up to 3 bytes a unit. TargetFolder keeps its limit of
// 259 characters (settings_win32.cpp), in as many bytes as that takes.
enum { kPathMax = 3 * 260 };
enum { kTargetFolderSize = 3 * 260 };
#else
enum { kPathMax = 4096 };   // PATH_MAX: a page path is not cut at 260 here
// TargetFolder is stored as a 260-byte zero-terminated string.
enum { kTargetFolderSize = 260 };
#endif
// CurrentFile holds a path of up to kPathMax - 1 bytes, its zero, and one
// more zero so that it doubles as a one-entry list ended by an empty entry.
enum { kCurrentFileSize = kPathMax + 1 };

extern uint32_t CleanOptions;
extern char TargetFolder[kTargetFolderSize];
extern char CurrentFile[kCurrentFileSize];

// The switches on the Advanced page.
const uint32_t kAdvancedMask = kOptComments | kOptScripts | kOptStyles | kOptForms | kOptInternet |
                               kOptMeta | kOptModules | kOptFrames | kOptExtractFirst;
// The low half of the word, which "Default" resets: the switches and the
// unused bits above them.
const uint32_t kResetMask = 0xFFFFu;

// "Default": the low 16 bits take their defaults; scheme and target stay.
void ResetOptions();
