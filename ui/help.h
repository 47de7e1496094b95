// Help: the HTML page beside the program, opened in the user's browser at
// the topic of a help context; the old WinHelp file where only it exists.
#pragma once
#include <windows.h>

enum { kHelpContents = 1 };     // the top of the help

// Opens the help at `context`; `owner` (null: none) owns what it shows.
void OpenHelp(HWND owner, int context);

// Context help (F1) for the control `item` of `owner`: its context is
// looked up in `helpIds`, pairs of control id and context ended by (0, 0).
void OpenControlHelp(HWND owner, HWND item, const DWORD *helpIds);
