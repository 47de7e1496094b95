// What the Windows program's entry (main_win32.cpp) gives the rest of it:
// its module and where its help lies.
#pragma once
#include <windows.h>
#include "platform/path_win32.h"

extern HINSTANCE Instance;          // the program's module, for templates and icons
enum { kHelpPathSize = kAnsiPathSize };
extern char HelpPagePath[kHelpPathSize];    // Webtrim.html beside the program, or empty
extern char HelpFilePath[kHelpPathSize];    // Wtrim.hlp beside the program, or empty
