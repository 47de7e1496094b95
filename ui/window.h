// The main window and the values the Windows program shares with it.
#pragma once
#include <windows.h>
#include "platform/path_win32.h"

extern HINSTANCE Instance;          // the program's module, for templates and icons
extern HWND MainWindow;             // null until the window exists (and on the command line)
enum { kHelpPathSize = kAnsiPathSize };
extern char HelpPagePath[kHelpPathSize];    // Webtrim.html beside the program, or empty
extern char HelpFilePath[kHelpPathSize];    // Wtrim.hlp beside the program, or empty

// Shows the main window as a modal dialog; gives back its result.
INT_PTR ShowMainWindow();

// Shows `utf8` in the result line below the picture, in place of what it
// showed; does nothing while there is no window.
void ShowResultLine(const char *utf8);
