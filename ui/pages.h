// The option pages that the main window shows inside its tab control.
#pragma once
#include <windows.h>
#include "app/options.h"

// Page indexes, which are also the tab indexes.
enum {
    kPageMain = 0,
    kPageAdvanced = 1,
    kPageTarget = 2,
    kPageColor = 3,
    kPageAbout = 4,
    kPageCount = 5,
};

// Dialog procedures of the first four pages; the About page has none. Each
// takes the window's settings record as its creation parameter (the lParam
// of CreateDialogParam), shows it and writes every change into it.
INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AdvancedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TargetPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ColorPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the check boxes of the Main (index 0) or Advanced (index 1) page
// from the settings' word; any other index leaves the page alone.
void SetPageChecks(HWND page, int index, const Settings *settings);
