// The main window and the values the Windows program shares with it.
#pragma once
#include <windows.h>
#include "app/messages.h"
#include "app/options.h"
#include "app/result.h"

extern HINSTANCE Instance;          // the program's module, for templates and icons
extern HWND MainWindow;             // null until the window exists (and on the command line)
enum { kHelpPathSize = MAX_PATH };
extern char HelpPagePath[kHelpPathSize];    // Webtrim.html beside the program, or empty
extern char HelpFilePath[kHelpPathSize];    // Wtrim.hlp beside the program, or empty

// Shows the main window as a modal dialog; gives back its result.
INT_PTR ShowMainWindow();

// The window's copy of the user's settings: loaded at the start, edited by
// the option pages, saved by "Save", and given to every run.
extern uint32_t CleanOptions;
extern char TargetFolder[kTargetFolderSize];

// Cleans the page at `path` in place under those settings, then shows the
// run's messages. True when it was cleaned or was clean already.
bool RunPage(const char *path, PageResult *result = NULL);

// A message box captioned "Webtrim" with the message's text and detail.
void ShowMessageBox(MessageKind kind, int id, const char *detail);
