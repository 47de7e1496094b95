// The option pages that the main window shows inside its tab control.
#pragma once
#include <windows.h>

// Page indexes, which are also the tab indexes.
enum {
    kPageMain = 0,
    kPageAdvanced = 1,
    kPageTarget = 2,
    kPageColor = 3,
    kPageAbout = 4,
    kPageCount = 5,
};

// Dialog procedures of the first four pages; the About page has none.
INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AdvancedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TargetPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ColorPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the check boxes of the Main (index 0) or Advanced (index 1) page
// from CleanOptions; any other index leaves the page alone.
void SetPageChecks(HWND page, int index);
