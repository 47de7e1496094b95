// The main window: a modal dialog with the coloured drop picture on the
// left, a tab control with one option page over it on the right, a row of
// buttons below, and below them all the result line of the last clean.
// Pages dropped on the picture (folders: the pages below them), or chosen
// with Open, are cleaned at once on a worker thread, while the window goes
// on answering (see "The run" below).
//
// The keyboard: the tab order follows the screen: the Open and Help buttons,
// the tab strip, the page, then the other buttons; the dialog manager
// handles Tab, the arrow keys and the Alt+letter keys marked in the
// templates; a message filter on the dialog's own loop adds the page changes
// (Ctrl+Tab, Ctrl+Page Down...).
//
// The picture flashes in its bright colour when a run starts: the run sends
// IDC_FLASH, the next paint fills the picture with the flash colour and
// starts the 150 ms timer, the timer clears the flash, and the paint after
// that stops the timer and shows the dark colour with the yellow prompt.
//
// Pixel sizes (margins, fonts) are given for 96 dpi and scaled to the DPI
// the dialog was laid out at, as the dialog manager scales the template.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include "app/options.h"
#include "app/run.h"
#include "app/settings.h"
#include "ui/batch.h"
#include "ui/help.h"
#include "ui/mainwnd.h"
#include "ui/pages.h"
#include "ui/resource.h"
#include "ui/main.h"
#include "ui/run.h"

// Window state; it lives as long as the process.
static HWND MainWindow;         // null until the window exists
static Settings *TheSettings;  // the caller's, edited by the pages, given to every run
static HWND TabControl;
static HWND CurrentPage;
static int CurrentTab;
static RECT DropArea;       // client pixels
static RECT PromptRect;     // client pixels
static int Flashing;
static int FlashTimerActive;
static HFONT TabFont;
static HFONT DropFont;
static HFONT ResultFont;
static HHOOK KeyFilter;      // the page-change keys, while the window is up
static int WindowDpi = 96;

static LRESULT CALLBACK FilterKeys(int code, WPARAM wParam, LPARAM lParam);

enum { kFlashMilliseconds = 150 };

// Colours of the picture for schemes 0 (red), 1 (green) and 2 (blue).
// Schemes 3 to 15 paint as blue, which is how the Color page shows them.
struct SchemeColours {
    COLORREF normal;
    COLORREF flash;
};
static const SchemeColours kSchemes[] = {
    {RGB(128, 0, 0), RGB(255, 0, 0)},
    {RGB(0, 128, 0), RGB(0, 255, 0)},
    {RGB(0, 0, 128), RGB(0, 0, 255)},
};
static const COLORREF kPromptColour = RGB(255, 255, 0);
static const char kPrompt[] = "Drag && Drop\nYour\nWeb Page\nFile\nHERE!";

static const char kCaption[] = "Webtrim";
static const char kNotOnPicture[] = "Please place your file to the picture";
static const char kStopQuestion[] =
    "Stop cleaning?\n\nThe page in hand is finished; the pages after it are left as they are.";

// Context help: control id, help context id; the first thirteen follow
// the bits of the options word from 0 to 12, bit 13 comes last.
static const DWORD HelpIdTable[] = {
    IDC_COMMENTS, 2,     IDC_SCRIPTS, 3,   IDC_STYLES, 4,         IDC_FORMS, 5,
    IDC_INTERNET, 6,     IDC_METATAGS, 7,  IDC_PICTURES, 8,       IDC_MODULES, 9,
    IDC_EXTRACT, 10,     IDC_FRAMES, 11,   IDC_BAD_COLORS, 12,    IDC_CUT_TABLES, 13,
    IDC_EXTRACT_FIRST, 14, IDC_SAVE, 15,   IDC_DEFAULT, 16,       IDC_HELP_BUTTON, 17,
    IDC_OPEN, 18,        IDC_ANY_LAYOUT, 19,  0, 0,
};

// Template and procedure of each tab's page.
struct PageKind {
    const char *caption;
    int templateId;
    DLGPROC procedure;
};
static const PageKind kPages[kPageCount] = {
    {"Main", IDD_PAGE_MAIN, MainPageProc},
    {"Advanced", IDD_PAGE_ADVANCED, AdvancedPageProc},
    {"Target", IDD_PAGE_TARGET, TargetPageProc},
    {"Color", IDD_PAGE_COLOR, ColorPageProc},
    {"About", IDD_PAGE_ABOUT, NULL},
};

// Under visual styles a page takes the tab control's background.
// uxtheme is looked up at run time: older systems have none.
static void UseTabBackground(HWND page)
{
    typedef HRESULT(WINAPI * EnableTexture)(HWND, DWORD);
    static EnableTexture enable;
    static bool looked;
    if (!looked) {
        looked = true;
        HMODULE uxtheme = LoadLibraryA("uxtheme.dll");
        if (uxtheme)
            enable = (EnableTexture)(void (*)())GetProcAddress(uxtheme, "EnableThemeDialogTexture");
    }
    if (enable && page)
        enable(page, 6);        // ETDT_ENABLETAB
}

// A page is a child of the window, not of the tab control: the dialog
// manager never stops on a window whose children it enters, so only thus
// can Tab reach the tab strip. It lies over the tab control's display area,
// where its template places it inside the tab control, and comes right
// after the tab strip in the tab order. A page that takes the focus as it
// opens gives it back to the tab strip that had it, so that the arrow keys
// go on from page to page.
static HWND CreatePage(int tab)
{
    HWND focus = GetFocus();
    HWND page = CreateDialogParamA(Instance, MAKEINTRESOURCEA(kPages[tab].templateId), MainWindow,
                                   kPages[tab].procedure, (LPARAM)TheSettings);
    if (!page)
        return NULL;
    RECT at, strip;
    GetWindowRect(page, &at);
    MapWindowPoints(NULL, MainWindow, (POINT *)&at, 2);
    GetWindowRect(TabControl, &strip);
    MapWindowPoints(NULL, MainWindow, (POINT *)&strip, 2);
    SetWindowPos(page, TabControl, strip.left + at.left, strip.top + at.top, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);
    UseTabBackground(page);
    if (focus == TabControl)
        SetFocus(TabControl);
    return page;
}

// A length in pixels at 96 dpi, at the window's DPI.
static int Scale(int pixels)
{
    return MulDiv(pixels, WindowDpi, 96);
}

// `height` in pixels at the window's DPI.
static HFONT MakeFont(int height, int weight, const char *face)
{
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                       VARIABLE_PITCH | FF_SWISS, face);
}

static HICON LoadProgramIcon(int id)
{
    return LoadIconA(Instance, MAKEINTRESOURCEA(id));
}

static void SetButtonIcon(HWND window, int button, int icon)
{
    SendDlgItemMessageA(window, button, BM_SETIMAGE, IMAGE_ICON, (LPARAM)LoadProgramIcon(icon));
}

// The prompt's font grows with the DPI, but no further than lets its widest
// line fit the picture: the dialog's own font need not grow in step, and a
// wrapped "Drag & Drop" would break the prompt's shape.
static HFONT MakePromptFont(HWND window)
{
    enum { kPromptHeight = 15 };
    HDC dc = GetDC(window);
    HFONT font = NULL;
    for (int height = Scale(kPromptHeight);; height--) {
        font = MakeFont(height, FW_SEMIBOLD, "Arial");
        HGDIOBJ old = SelectObject(dc, font);
        RECT lines = {0, 0, 0, 0};
        DrawTextA(dc, kPrompt, -1, &lines, DT_CALCRECT);
        SelectObject(dc, old);
        if (lines.right <= PromptRect.right - PromptRect.left || height <= kPromptHeight)
            break;
        DeleteObject(font);
    }
    ReleaseDC(window, dc);
    return font;
}

// Tooltips for the two buttons that show only an icon.
static void AddTooltips(HWND window)
{
    static const struct {
        int button;
        const char *text;
    } kTips[] = {
        {IDC_OPEN, "Open a page to clean"},
        {IDC_HELP_BUTTON, "Help"},
    };
    HWND tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window,
                                NULL, Instance, NULL);
    if (!tips)
        return;
    for (const auto &tip : kTips) {
        TOOLINFOA info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = window;
        info.uId = (UINT_PTR)GetDlgItem(window, tip.button);
        info.lpszText = (char *)tip.text;
        SendMessageA(tips, TTM_ADDTOOLA, 0, (LPARAM)&info);
    }
}

// The result line spans the window below the picture and the buttons, in
// the message font's face, which has the characters of far more scripts than
// the dialog's, at the dialog font's height, which the window grows with.
// Gives its top edge, in client pixels.
static int PlaceResultLine(HWND window, int margin)
{
    HWND line = GetDlgItem(window, IDC_RESULT);
    RECT client, r;
    GetClientRect(window, &client);
    GetWindowRect(line, &r);
    MapWindowPoints(NULL, window, (POINT *)&r, 2);
    SetWindowPos(line, NULL, margin, r.top, client.right - 2 * margin, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    NONCLIENTMETRICSW metrics;
    memset(&metrics, 0, sizeof metrics);
    // The size of the structure before Vista, which every system takes.
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof metrics.lfMessageFont;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        // The height the dialog font is drawn at: a bitmap font stops
        // growing at its largest size, and the window with it.
        HDC dc = GetDC(window);
        HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(window, WM_GETFONT, 0, 0));
        TEXTMETRICW tm;
        if (GetTextMetricsW(dc, &tm))
            metrics.lfMessageFont.lfHeight = -(tm.tmHeight - tm.tmInternalLeading);
        SelectObject(dc, old);
        ReleaseDC(window, dc);
        ResultFont = CreateFontIndirectW(&metrics.lfMessageFont);
        if (ResultFont)
            SendMessageW(line, WM_SETFONT, (WPARAM)ResultFont, FALSE);
    }
    return r.top;
}

// True when the result line's font draws `c` (else it would show a box).
static bool ResultFontHas(wchar_t c)
{
    HWND line = GetDlgItem(MainWindow, IDC_RESULT);
    HDC dc = GetDC(line);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(line, WM_GETFONT, 0, 0));
    WORD glyph = 0xFFFF;
    bool has = GetGlyphIndicesW(dc, &c, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF;
    SelectObject(dc, old);
    ReleaseDC(line, dc);
    return has;
}

// Shows `utf8` in the result line below the picture, in place of what it
// showed; does nothing while there is no window.
static void ShowResultLine(const char *utf8)
{
    enum { kArrow = 0x2192, kUnits = 1024 };
    if (!MainWindow)
        return;
    wchar_t text[kUnits], shown[2 * kUnits];
    if (!Utf8ToWide(utf8, text, kUnits))
        return;
    // An arrow that the font lacks is written "->".
    bool arrow = ResultFontHas(kArrow);
    int n = 0;
    for (const wchar_t *p = text; *p; p++) {
        if (*p == kArrow && !arrow) {
            shown[n++] = '-';
            shown[n++] = '>';
        } else {
            shown[n++] = *p;
        }
    }
    shown[n] = 0;
    SetDlgItemTextW(MainWindow, IDC_RESULT, shown);
}

static void InitWindow(HWND window)
{
    MainWindow = window;
    HDC screen = GetDC(window);
    WindowDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(window, screen);
    SendMessageA(window, WM_SETICON, ICON_BIG, (LPARAM)LoadProgramIcon(IDI_PROGRAM));
    DragAcceptFiles(window, TRUE);

    // The tab control takes the placeholder's place. Its x is the
    // placeholder's distance from the window's outer left edge, used as a
    // client coordinate as it is.
    RECT outer, placeholder;
    GetWindowRect(window, &outer);
    GetWindowRect(GetDlgItem(window, IDC_TAB_PLACEHOLDER), &placeholder);
    int tabX = placeholder.left - outer.left;
    int margin = Scale(5);
    TabControl = CreateWindowExA(0, WC_TABCONTROLA, "",
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, tabX, margin,
                                 outer.right - placeholder.left - 2 * margin,
                                 placeholder.bottom - placeholder.top + margin, window, NULL,
                                 Instance, NULL);
    TabFont = MakeFont(Scale(14), FW_NORMAL, "MS Sans Serif");
    SendMessageA(TabControl, WM_SETFONT, (WPARAM)TabFont, TRUE);
    // In the tab order right after the Help button, which sits beside Open.
    SetWindowPos(TabControl, GetDlgItem(window, IDC_HELP_BUTTON), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (int tab = 0; tab < kPageCount; tab++) {
        TCITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = TCIF_TEXT;
        item.pszText = (char *)kPages[tab].caption;
        item.iImage = -1;
        SendMessageA(TabControl, TCM_INSERTITEMA, tab, (LPARAM)&item);
    }
    SendMessageA(TabControl, TCM_SETCURSEL, 0, 0);
    CurrentPage = CreatePage(kPageMain);

    // The picture ends above the result line, where the window once ended.
    RECT client;
    GetClientRect(window, &client);
    int bottom = PlaceResultLine(window, margin);
    SetRect(&DropArea, margin, margin, tabX - margin, bottom - margin);
    SetRect(&PromptRect, margin, (DropArea.bottom - margin) / 4 + margin, DropArea.right,
            DropArea.bottom);
    DropFont = MakePromptFont(window);

    SetButtonIcon(window, IDC_OPEN, IDI_OPEN);
    SetButtonIcon(window, IDC_HELP_BUTTON, IDI_HELP);
    AddTooltips(window);
    // The Main page took the focus as it opened; the Open button has it.
    SetFocus(GetDlgItem(window, IDC_OPEN));
    KeyFilter = SetWindowsHookExW(WH_MSGFILTER, FilterKeys, NULL, GetCurrentThreadId());
}

static void PaintPicture(HWND window)
{
    uint32_t scheme = (TheSettings->word >> kOptSchemeShift) & 0xF;
    const SchemeColours &colours = kSchemes[scheme < 3 ? scheme : 2];
    HBRUSH normal = CreateSolidBrush(colours.normal);
    HBRUSH flash = CreateSolidBrush(colours.flash);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (Flashing == 1) {
        FillRect(dc, &DropArea, flash);
        SetTimer(window, IDT_FLASH, kFlashMilliseconds, NULL);
        FlashTimerActive = 1;
    } else {
        if (FlashTimerActive == 1) {
            KillTimer(window, IDT_FLASH);
            FlashTimerActive = 0;
        }
        FillRect(dc, &DropArea, normal);
        HGDIOBJ oldFont = SelectObject(dc, DropFont);
        SetTextColor(dc, kPromptColour);
        SetBkColor(dc, colours.normal);
        RECT prompt = PromptRect;
        DrawTextA(dc, kPrompt, -1, &prompt, DT_CENTER | DT_WORDBREAK);
        SelectObject(dc, oldFont);
    }
    EndPaint(window, &ps);
    DeleteObject(normal);
    DeleteObject(flash);
}

static void InvalidatePicture(HWND window)
{
    RedrawWindow(window, &DropArea, NULL, RDW_INVALIDATE);
}

static void ChangeTab(HWND tabs)
{
    if (CurrentPage)
        DestroyWindow(CurrentPage);
    CurrentPage = NULL;
    CurrentTab = (int)SendMessageA(tabs, TCM_GETCURSEL, 0, 0);
    if (CurrentTab >= 0 && CurrentTab < kPageCount)
        CurrentPage = CreatePage(CurrentTab);
}

// Ctrl+Tab and Ctrl+Page Down show the next page, Ctrl+Shift+Tab and Ctrl+
// Page Up the one before, round the five. The focus, which may have been
// on the page that goes, goes to the tab strip.
static void StepPage(int step)
{
    int tab = (CurrentTab + step + kPageCount) % kPageCount;
    SendMessageA(TabControl, TCM_SETCURSEL, tab, 0);
    SendMessageA(MainWindow, WM_NEXTDLGCTL, (WPARAM)TabControl, TRUE);
    ChangeTab(TabControl);
}

// Keys that the dialog manager has no use for, looked at before it sees
// them (the message filter of the dialog's own loop): the page changes, and
// Alt+B for the Target page's "...", whose text has no letter to mark.
// Not while another window, such as a message box, is in front.
static LRESULT CALLBACK FilterKeys(int code, WPARAM wParam, LPARAM lParam)
{
    MSG *m = (MSG *)lParam;
    if (code == MSGF_DIALOGBOX && MainWindow && IsWindowEnabled(MainWindow) &&
        (m->hwnd == MainWindow || IsChild(MainWindow, m->hwnd))) {
        bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
        if (m->message == WM_KEYDOWN && ctrl &&
            (m->wParam == VK_TAB || m->wParam == VK_NEXT || m->wParam == VK_PRIOR)) {
            StepPage(m->wParam == VK_PRIOR || (m->wParam == VK_TAB && shift) ? -1 : 1);
            return 1;
        }
        HWND browse = CurrentTab == kPageTarget ? GetDlgItem(CurrentPage, IDC_BROWSE) : NULL;
        if (m->message == WM_SYSKEYDOWN && m->wParam == 'B' && browse && IsWindowEnabled(browse)) {
            // The folder browser's own loop runs once this filter is done.
            SendMessageA(MainWindow, WM_NEXTDLGCTL, (WPARAM)browse, TRUE);
            PostMessageA(CurrentPage, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), (LPARAM)browse);
            return 1;
        }
    }
    return CallNextHookEx(KeyFilter, code, wParam, lParam);
}

// Puts a path the system gave in UTF-16 into `taken` (kTakenPathSize
// bytes), with the zero after it that ends the one-entry list. A path that
// does not fit, or that the ANSI code page cannot write, is refused whole,
// never cut or changed into the name of another file.
static bool TakeWidePath(const wchar_t *path, char *taken)
{
    if (!WideToAnsi(path, taken, kTakenPathSize - 1))
        return false;
    taken[strlen(taken) + 1] = 0;
    return true;
}

// The open-file dialog; true when the user confirmed a file, whose path
// is then in `taken` (kTakenPathSize bytes). A chosen file the ANSI code
// page cannot name is reported as one that cannot be opened.
static bool ChooseFile(char *taken)
{
    static const wchar_t kFilter[] =
        L"Web pages (*.htm, *.html, *.mht, *.mhtml, *.plg)\0*.HTM;*.HTML;*.MHT;*.MHTML;*.PLG\0All Files (*.*)\0*.*\0";
    wchar_t chosen[MAX_PATH + 1] = L"";
    taken[0] = 0;
    OPENFILENAMEW ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOREADONLYRETURN;
    if (!GetOpenFileNameW(&ofn))
        return false;
    if (TakeWidePath(chosen, taken))
        return true;
    ShowMessageBox(MainWindow, kMessageError, kErrCannotOpen, NULL);
    return false;
}

// ---------------------------------------------------------------- the run
//
// A run goes through its pages on a worker thread; the window's own thread
// begins it, shows its progress and ends it, so that every box and dialog
// comes from that thread. The worker posts kRunPageMessage before each page
// (its index and path) and kRunDoneMessage once it has stopped; the window
// then waits for the thread, which has nothing left to do, and reports.
//
// States: idle; running (Open and the drop refused; for several pages the
// Cancel button in Default's place and the progress in the result line);
// stopping (Cancel or Close was answered: the worker finishes the page in
// hand and begins no other). A page cleaned alone that is still going after
// half a second shows the busy cursor over the window. Closing during a run
// of several pages asks first; a Yes stops the run and, once its report has
// been shown, ends the window, so nothing the run says is lost.

enum { kRunPageMessage = WM_APP + 1, kRunDoneMessage = WM_APP + 2, kBusyMilliseconds = 500 };
enum RunState { kRunIdle, kRunGoing, kRunStopping };

static Batch TheRun;
static HANDLE Worker;
static RunState Running;
static bool Busy;               // the busy cursor is shown
static bool Asking;             // the question before closing is open
static bool DonePending;        // the run ended while it was
static bool CloseAfterRun;
static bool FlashedThisRun;     // the picture flashed as the run began

static HWND WindowUnderCursor()
{
    POINT at;
    GetCursorPos(&at);
    return WindowFromPoint(at);
}

static DWORD WINAPI WorkOnRun(void *)
{
    while (TheRun.next < TheRun.pages.count && !TheRun.stop) {
        PostMessageA(MainWindow, kRunPageMessage, (WPARAM)TheRun.next, (LPARAM)(TheRun.pages.text + TheRun.at));
        CleanNextPage(&TheRun);
    }
    PostMessageA(MainWindow, kRunDoneMessage, 0, 0);
    return 0;
}

// The window's controls for a run of several pages, of one, or for none.
// The focus leaves a button that goes away or is disabled for the run (to
// Cancel, or for one page to Help) and comes back to it after the run,
// unless the user has moved it meanwhile.
static void ShowRunControls(bool running, bool several)
{
    static HWND focusBefore, focusDuring;
    HWND cancel = GetDlgItem(MainWindow, IDC_CANCEL_RUN), open = GetDlgItem(MainWindow, IDC_OPEN);
    HWND byDefault = GetDlgItem(MainWindow, IDC_DEFAULT), focus = GetFocus();
    if (running && (focus == open || (several && focus == byDefault))) {
        focusBefore = focus;
        focusDuring = several ? cancel : GetDlgItem(MainWindow, IDC_HELP_BUTTON);
    } else if (running) {
        focusBefore = focusDuring = NULL;
    }
    EnableWindow(cancel, running);
    ShowWindow(cancel, running && several ? SW_SHOW : SW_HIDE);
    if (running && focusDuring)
        SendMessageA(MainWindow, WM_NEXTDLGCTL, (WPARAM)focusDuring, TRUE);
    ShowWindow(byDefault, running && several ? SW_HIDE : SW_SHOW);
    EnableWindow(open, !running);
    DragAcceptFiles(MainWindow, !running);
    if (!running && focusBefore && (focus == focusDuring || focus == NULL))
        SendMessageA(MainWindow, WM_NEXTDLGCTL, (WPARAM)focusBefore, TRUE);
    else if (!running && (focus == cancel || focus == NULL))
        SendMessageA(MainWindow, WM_NEXTDLGCTL, (WPARAM)open, TRUE);
    if (!running)
        focusBefore = focusDuring = NULL;
}

static void StartRun(PathList *pages)
{
    if (Running != kRunIdle || pages->count == 0)
        return;
    ShowResultLine("");
    if (!BeginBatch(pages, TheSettings, MainWindow, &TheRun))
        return;
    Running = kRunGoing;
    CloseAfterRun = false;
    FlashedThisRun = false;
    ShowRunControls(true, TheRun.pages.count > 1);
    if (TheRun.pages.count == 1)
        SetTimer(MainWindow, IDT_BUSY, kBusyMilliseconds, NULL);
    Worker = CreateThread(NULL, 0, WorkOnRun, NULL, 0, NULL);
    if (!Worker) {
        // No thread: the run goes on here, as it once always did.
        WorkOnRun(NULL);
    }
}

// "N of M pages: name" while a run of several pages goes on.
static void ShowProgress(int index, const char *path)
{
    if (Running != kRunGoing || TheRun.pages.count < 2)
        return;
    char line[kAnsiPathSize + 64];
    snprintf(line, sizeof line, "%d of %d pages: ", index + 1, TheRun.pages.count);
    const char *name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    // The result line is UTF-8; the path is in the ANSI code page.
    wchar_t wide[kAnsiPathSize + 1];
    size_t n = strlen(line);
    if (AnsiToWide(name, wide, kAnsiPathSize + 1))
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, line + n, (int)(sizeof line - n), NULL, NULL);
    ShowResultLine(line);
}

static void StopRun()
{
    if (Running != kRunGoing)
        return;
    InterlockedExchange(&TheRun.stop, 1);
    Running = kRunStopping;
}

static void FinishRun()
{
    if (Worker) {
        WaitForSingleObject(Worker, INFINITE);
        CloseHandle(Worker);
        Worker = NULL;
    }
    KillTimer(MainWindow, IDT_BUSY);
    if (Busy) {
        Busy = false;
        SetCursor(LoadCursorA(NULL, IDC_ARROW));
    }
    // The run is handed over before it is reported: another may begin
    // while the report is open.
    Batch ended = TheRun;
    memset(&TheRun, 0, sizeof TheRun);
    Running = kRunIdle;
    FlashedThisRun = false;
    ShowRunControls(false, false);
    // The line first, so that it stands under any box the run's end shows.
    char line[kResultLineSize];
    if (BatchResultLine(&ended, line, sizeof line))
        ShowResultLine(line);
    EndBatch(&ended, MainWindow, CloseAfterRun);
    if (CloseAfterRun)
        EndDialog(MainWindow, 1);
}

// The Close box, Exit and Escape. During a run of several pages the user is
// asked first; one page is simply let finish.
static void Close(HWND window)
{
    if (Running == kRunIdle) {
        EndDialog(window, 1);
        return;
    }
    if (CloseAfterRun || Asking)
        return;
    bool stop = true;
    if (TheRun.pages.count > 1) {
        Asking = true;
        stop = MessageBoxA(window, kStopQuestion, kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        Asking = false;
    }
    if (stop) {
        StopRun();
        CloseAfterRun = true;
    }
    if (DonePending) {
        DonePending = false;
        FinishRun();
    }
}

// The picture in screen pixels, for comparing with the cursor.
static RECT PictureOnScreen(HWND window)
{
    RECT picture = DropArea;
    MapWindowPoints(window, NULL, (POINT *)&picture, 2);
    return picture;
}

// Copies dropped file `index`'s path into `taken` (kTakenPathSize bytes).
// The drop holds it in UTF-16; its "A" call would give '?' for what the
// code page lacks.
static bool TakeDroppedPath(HDROP drop, UINT index, char *taken)
{
    wchar_t path[MAX_PATH + 1];
    UINT length = DragQueryFileW(drop, index, NULL, 0);
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (DragQueryFileW(drop, index, path, MAX_PATH) != length)
        return false;
    path[length] = 0;
    return TakeWidePath(path, taken);
}

static void DropFiles(HWND window, HDROP drop)
{
    POINT cursor;
    GetCursorPos(&cursor);
    RECT picture = PictureOnScreen(window);
    if (!(picture.left < cursor.x && cursor.x < picture.right && picture.top < cursor.y &&
          cursor.y < picture.bottom)) {
        DragFinish(drop);
        MessageBoxA(window, kNotOnPicture, kCaption, MB_OK);
        return;
    }
    if (Running != kRunIdle) {
        DragFinish(drop);           // one that came in as the run began
        return;
    }
    // The drop is released before anything is cleaned; a path that cannot
    // be taken whole is reported at once.
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0);
    PathList items = {}, pages = {};
    int refused = 0;
    char taken[kTakenPathSize];
    for (UINT i = 0; i < count; i++) {
        if (!TakeDroppedPath(drop, i, taken) || !AddPath(&items, taken))
            refused++;
    }
    DragFinish(drop);
    for (int i = 0; i < refused; i++)
        ShowMessageBox(MainWindow, kMessageError, kErrCannotOpen, NULL);
    CollectPages(&items, TheSettings, MainWindow, &pages);
    StartRun(&pages);
    FreePathList(&items);
    FreePathList(&pages);
}

static void Command(HWND window, int id)
{
    switch (id) {
    case IDC_REPAINT:
        InvalidatePicture(window);
        break;
    case IDC_FLASH:
        // Once a run: its pages' own flashes would keep the picture bright.
        if (FlashedThisRun)
            break;
        FlashedThisRun = Running != kRunIdle;
        Flashing = 1;
        InvalidatePicture(window);
        break;
    case IDC_OPEN: {
        char taken[kTakenPathSize];
        if (ChooseFile(taken)) {
            PathList one = {};
            AddPath(&one, taken);
            StartRun(&one);
            FreePathList(&one);
        }
        break;
    }
    case IDC_CANCEL_RUN:
        StopRun();
        break;
    case IDC_DEFAULT:
        TheSettings->word = ResetWord(TheSettings->word);
        SetPageChecks(CurrentPage, CurrentTab, TheSettings);
        break;
    case IDC_HELP_BUTTON:
        OpenHelp(window, kHelpContents);
        break;
    case IDC_SAVE: {
        char problem[256];
        SaveSettings(TheSettings, problem, sizeof problem);
        break;
    }
    }
}

static INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitWindow(window);
        return FALSE;       // no initial focus
    case WM_PAINT:
        PaintPicture(window);
        return FALSE;
    case WM_TIMER:
        if (wParam == IDT_FLASH) {
            Flashing = 0;
            InvalidatePicture(window);
        } else if (wParam == IDT_BUSY) {
            KillTimer(window, IDT_BUSY);
            Busy = Running != kRunIdle;
            HWND under = WindowUnderCursor();
            if (Busy && (under == window || IsChild(window, under)))
                SetCursor(LoadCursorA(NULL, IDC_WAIT));
        }
        return FALSE;
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->code == TCN_SELCHANGE)
            ChangeTab(((NMHDR *)lParam)->hwndFrom);
        return FALSE;
    case WM_HELP:
        OpenControlHelp(window, (HWND)((HELPINFO *)lParam)->hItemHandle, HelpIdTable);
        return FALSE;
    case WM_DROPFILES:
        DropFiles(window, (HDROP)wParam);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_EXIT) {
            Close(window);
            return TRUE;
        }
        Command(window, LOWORD(wParam));
        return FALSE;
    case WM_SYSCOMMAND:
        if (wParam == SC_CLOSE) {
            Close(window);
            return TRUE;
        }
        return FALSE;
    case WM_SETCURSOR:
        if (!Busy)
            return FALSE;
        SetCursor(LoadCursorA(NULL, IDC_WAIT));
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case kRunPageMessage:
        ShowProgress((int)wParam, (const char *)lParam);
        return TRUE;
    case kRunDoneMessage:
        if (Asking)
            DonePending = true;     // ended once the question is answered
        else
            FinishRun();
        return TRUE;
    }
    return FALSE;
}

INT_PTR ShowMainWindow(Settings *settings)
{
    TheSettings = settings;
    INT_PTR result = DialogBoxParamA(Instance, MAKEINTRESOURCEA(IDD_MAIN_WINDOW), NULL, MainWindowProc, 0);
    if (KeyFilter)
        UnhookWindowsHookEx(KeyFilter);
    KeyFilter = NULL;
    return result;
}
