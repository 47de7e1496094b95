// The main window (mainwnd_win32.cpp).
#pragma once
#include <windows.h>

extern HWND MainWindow;             // null until the window exists (and on the command line)

// Shows the main window as a modal dialog; gives back its result.
INT_PTR ShowMainWindow();

// Shows `utf8` in the result line below the picture, in place of what it
// showed; does nothing while there is no window.
void ShowResultLine(const char *utf8);
