// The main window and the values the Windows program shares with it.
#pragma once
#include <windows.h>
#include "app/messages.h"
#include "app/options.h"
#include "app/result.h"
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

// The window's copy of the user's settings: loaded at the start, edited by
// the option pages, saved by "Save", and given to every run.
extern uint32_t CleanOptions;
extern char TargetFolder[kTargetFolderSize];

// The path the window or the command line is taking in (a drop, the Open
// dialog, the command line), with one more zero after its own.
enum { kCurrentFileSize = kAnsiPathSize + 2 };
extern char CurrentFile[kCurrentFileSize];

// A message box captioned "Webtrim": the message's text and detail as its
// first lines (the texts the program has always shown), then, when given,
// the page's name and the system's reason, with the message's icon.
void ShowMessageBox(MessageKind kind, int id, const char *detail, const char *page = NULL,
                    int sysError = 0);
