// The option pages: child dialogs of the main window, over its tab control.
// Each page is built afresh when its tab is chosen, over the window's
// settings record (its creation parameter, kept in its DWLP_USER); it sets
// its controls from the record's word and target folder and writes every
// change straight back into them. Nothing here touches the registry; "Save"
// on the main window does.
//
// Only the control id (the low word) of a WM_COMMAND is looked at, never the
// notification code. The pages return FALSE for every message except
// WM_INITDIALOG of the Main and Advanced pages.
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include "app/options.h"
#include "ui/pages.h"
#include "ui/resource.h"
#include "platform/path_win32.h"

// Switches whose boxes stand on the Main page: bits 6, 8, 10, 11 and 13.
static const uint32_t kMainPageMask =
    kOptPictures | kOptExtract | kOptBadColors | kOptCutTables | kOptAnyLayout;

static const char kRecycleBinText[] = "Recycle Bin";

// The Main page's boxes in the order in which they are set.
static const int kMainPageBoxes[] = {IDC_EXTRACT, IDC_CUT_TABLES, IDC_PICTURES, IDC_BAD_COLORS,
                                     IDC_ANY_LAYOUT};

// Control id of each switch's check box, indexed by bit number.
static const int kControlIdByBit[kSwitchCount] = {
    1016, 1013, 1012, 1015, 1019, 1018, 1010, 1014, 1008, 1017, 1011, 1009, 1020, 1028, 1030,
};

// Mask of the switch behind check box `id`, or 0 for another control.
static uint32_t SwitchOfBox(int id)
{
    for (int bit = 0; bit < kSwitchCount; bit++) {
        if (kControlIdByBit[bit] == id)
            return 1u << bit;
    }
    return 0;
}

// The settings a page shows and changes. Its WM_INITDIALOG keeps them
// (KeepSettings); messages before that find none.
static Settings *SettingsOf(HWND page)
{
    return (Settings *)GetWindowLongPtrA(page, DWLP_USER);
}

static Settings *KeepSettings(HWND page, LPARAM settings)
{
    SetWindowLongPtrA(page, DWLP_USER, settings);
    return (Settings *)settings;
}

static void ShowSwitch(HWND page, int id, uint32_t word)
{
    CheckDlgButton(page, id, (word & SwitchOfBox(id)) ? BST_CHECKED : BST_UNCHECKED);
}

// "Find the main part in any layout" means something only while the main
// part is extracted.
static void EnableAnyLayout(HWND page, uint32_t word)
{
    EnableWindow(GetDlgItem(page, IDC_ANY_LAYOUT), (word & kOptExtract) != 0);
}

void SetPageChecks(HWND page, int index, const Settings *settings)
{
    if (index == kPageMain) {
        for (int id : kMainPageBoxes)
            ShowSwitch(page, id, settings->word);
        EnableAnyLayout(page, settings->word);
    } else if (index == kPageAdvanced) {
        for (int bit = 0; bit < kSwitchCount; bit++) {
            if (kAdvancedMask & (1u << bit))
                ShowSwitch(page, kControlIdByBit[bit], settings->word);
        }
    }
}

// A click on one of the page's own boxes copies its state into its bit;
// anything that is not exactly BST_CHECKED clears the bit.
static void TakeSwitch(HWND page, int id, uint32_t pageMask, Settings *settings)
{
    uint32_t mask = SwitchOfBox(id) & pageMask;
    if (!mask)
        return;
    if (IsDlgButtonChecked(page, id) == BST_CHECKED)
        settings->word |= mask;
    else
        settings->word &= ~mask;
}

INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetPageChecks(page, kPageMain, KeepSettings(page, lParam));
        return TRUE;
    }
    Settings *settings = SettingsOf(page);
    if (message == WM_COMMAND && settings) {
        TakeSwitch(page, LOWORD(wParam), kMainPageMask, settings);
        if (LOWORD(wParam) == IDC_EXTRACT)
            EnableAnyLayout(page, settings->word);
    }
    return FALSE;
}

INT_PTR CALLBACK AdvancedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetPageChecks(page, kPageAdvanced, KeepSettings(page, lParam));
        return TRUE;
    }
    Settings *settings = SettingsOf(page);
    if (message == WM_COMMAND && settings)
        TakeSwitch(page, LOWORD(wParam), kAdvancedMask, settings);
    return FALSE;
}

// Shows the end of a long path that wraps over several lines.
static void ScrollToLastLine(HWND edit)
{
    LRESULT lines = SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
    SendMessageA(edit, EM_LINESCROLL, 0, lines);
}

static void ShowTargetFolder(HWND page, const Settings *settings)
{
    HWND edit = GetDlgItem(page, IDC_TARGET_TEXT);
    SetWindowTextA(edit, settings->targetFolder);
    ScrollToLastLine(edit);
}

// The shell's folder browser. The path is copied into the target folder
// only when the shell could give one that the ANSI code page can write, so
// a cancel or a folder without a file-system path leaves the folder as it
// was. The "A" calls would cut a UTF-8 path at MAX_PATH bytes.
static void BrowseForTarget(HWND page, Settings *settings)
{
    wchar_t displayName[MAX_PATH];
    BROWSEINFOW info;
    memset(&info, 0, sizeof info);
    info.hwndOwner = page;
    info.pidlRoot = NULL;
    info.pszDisplayName = displayName;
    info.lpszTitle = NULL;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    info.lpfn = NULL;
    info.lParam = 0;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (!chosen)
        return;
    wchar_t path[MAX_PATH];
    char folder[kTargetFolderSize];
    bool havePath = SHGetPathFromIDListW(chosen, path) != FALSE &&
                    WideToAnsi(path, folder, sizeof folder);
    CoTaskMemFree(chosen);
    if (!havePath)
        return;
    memcpy(settings->targetFolder, folder, sizeof settings->targetFolder);
    ShowTargetFolder(page, settings);
}

INT_PTR CALLBACK TargetPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const Settings *kept = KeepSettings(page, lParam);
        int chosen = (kept->word & kOptRecycleBin) ? IDC_TARGET_RECYCLE : IDC_TARGET_FOLDER;
        CheckRadioButton(page, IDC_TARGET_RECYCLE, IDC_TARGET_FOLDER, chosen);
        CheckDlgButton(page, IDC_KEEP_TIME, (kept->word & kOptPreserveTime) ? BST_CHECKED : BST_UNCHECKED);
        // The command handler below sets up the edit control and "...".
        SendMessageA(page, WM_COMMAND, chosen, 0);
        return FALSE;
    }
    Settings *settings = SettingsOf(page);
    if (message != WM_COMMAND || !settings)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_TARGET_RECYCLE:
        EnableWindow(GetDlgItem(page, IDC_BROWSE), FALSE);
        SetDlgItemTextA(page, IDC_TARGET_TEXT, kRecycleBinText);
        settings->word |= kOptRecycleBin;
        break;
    case IDC_TARGET_FOLDER:
        EnableWindow(GetDlgItem(page, IDC_BROWSE), TRUE);
        ShowTargetFolder(page, settings);
        settings->word &= ~(kOptRecycleBin | 0xC0000000u);     // bit 28 and the unused bits 30, 31
        break;
    case IDC_KEEP_TIME:
        // The cleaned page keeps the page's times: bit 29.
        if (IsDlgButtonChecked(page, IDC_KEEP_TIME) == BST_CHECKED)
            settings->word |= kOptPreserveTime;
        else
            settings->word &= ~(uint32_t)kOptPreserveTime;
        break;
    case IDC_BROWSE:
        BrowseForTarget(page, settings);
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK ColorPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // Schemes above 2 come only from an edited stored word; they show,
        // and paint, as blue.
        uint32_t scheme = (KeepSettings(page, lParam)->word & kOptSchemeMask) >> kOptSchemeShift;
        int id = scheme == 0 ? IDC_SCHEME_RED : scheme == 1 ? IDC_SCHEME_GREEN : IDC_SCHEME_BLUE;
        SendDlgItemMessageA(page, id, BM_SETCHECK, BST_CHECKED, 0);
        return FALSE;
    }
    Settings *settings = SettingsOf(page);
    if (message != WM_COMMAND || !settings)
        return FALSE;
    int id = LOWORD(wParam);
    if (id < IDC_SCHEME_RED || id > IDC_SCHEME_BLUE)
        return FALSE;
    uint32_t scheme = (uint32_t)(id - IDC_SCHEME_RED);
    settings->word = (settings->word & ~(uint32_t)kOptSchemeMask) | (scheme << kOptSchemeShift);
    // The window, the page's parent, paints the picture in the new colour.
    SendMessageA(GetParent(page), WM_COMMAND, IDC_REPAINT, 0);
    return FALSE;
}
