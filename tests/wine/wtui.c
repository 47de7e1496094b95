/* Looks at webtrim.exe's main window from outside, for the Wine tests of
   the window. A console program that reads one command a line from its
   standard input and answers with lines ending in "END":

     find                 waits (up to 20 s) for the main window: MAIN line
     state                the window, every control in it, the tabs: see below
     pixel X Y            the screen's colour at X, Y: PIXEL rrggbb
     poll X Y MS FILE     says READY, then reads the screen pixel at X, Y for
                          MS milliseconds and lists each change of colour as
                          AT ms rrggbb; the first time the colour changes it
                          also saves the window's picture as a BMP to FILE
                          ("-" for none)
     close                the screen point of the main window's Close box
     tip                  the text of each tooltip on show: TIP text
     ideal ID             BCM_GETIDEALSIZE of the main window's button ID,
                          which only common controls 6 answer: IDEAL ok w h
     focus                the control with the keyboard focus in webtrim's
                          window: FOCUS hwnd id class (FOCUS 0 when none)
     fit                  for each visible control of the window and its
                          page that shows a text: FIT id class need_w need_h
                          have_w have_h, the size its text needs (the
                          button's BCM_GETIDEALSIZE; a static's text
                          measured in its own font) and the size it has
     name ID              the accessible name of the main window's control
                          ID, as a screen reader reads it: NAME ok text
     alive MS             for MS milliseconds sends the main window WM_NULL,
                          one call after another, each allowed a second:
                          ALIVE calls unanswered slowest_ms
     quit

   state lines (rectangles in screen pixels, left top right bottom):
     MAIN hwnd l t r b client_x client_y client_w client_h enabled
     CTL hwnd parent id class l t r b visible enabled check text
     TAB count current
     TABITEM index l t r b text
     EDIT id first_visible_line line_count

   Texts are given in UTF-8. Tab items live in the other process's memory,
   so their rectangles and texts are read through memory allocated in that
   process. */
#define COBJMACROS
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND main_window;

enum { RESULT_LINE = 1034 };        /* the window's result line, in the message font */

/* Texts are printed on one line: backslash, line feed, carriage return and
   tab are written as \\, \n, \r and \t. */
static void print_text(const char *s)
{
    for (; *s; s++) {
        if (*s == '\\')
            fputs("\\\\", stdout);
        else if (*s == '\n')
            fputs("\\n", stdout);
        else if (*s == '\r')
            fputs("\\r", stdout);
        else if (*s == '\t')
            fputs("\\t", stdout);
        else
            putchar(*s);
    }
}

static BOOL CALLBACK find_main(HWND w, LPARAM lp)
{
    char cls[64], title[64];
    (void)lp;
    if (!IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) || strcmp(cls, "#32770") != 0)
        return TRUE;
    GetWindowTextA(w, title, sizeof title);
    if (strcmp(title, "Webtrim") != 0 || !FindWindowExA(w, NULL, "SysTabControl32", NULL))
        return TRUE;
    main_window = w;
    return FALSE;
}

static void cmd_find(void)
{
    for (int waited = 0; waited < 20000; waited += 100) {
        main_window = NULL;
        EnumWindows(find_main, 0);
        if (main_window) {
            printf("MAIN %lu\n", (unsigned long)(ULONG_PTR)main_window);
            return;
        }
        Sleep(100);
    }
    printf("NOWINDOW\n");
}

/* A window's text in UTF-8. */
static void window_text(HWND w, char *text, int size)
{
    wchar_t wide[1024];
    wide[0] = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, sizeof wide / sizeof wide[0], (LPARAM)wide, SMTO_ABORTIFHUNG,
                        2000, NULL);
    if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, size, NULL, NULL))
        text[0] = 0;
}

static BOOL CALLBACK print_control(HWND w, LPARAM lp)
{
    char cls[64], text[3072];
    RECT r;
    (void)lp;
    GetClassNameA(w, cls, sizeof cls);
    GetWindowRect(w, &r);
    window_text(w, text, sizeof text);
    DWORD_PTR check = 0;
    if (strcmp(cls, "Button") == 0)
        SendMessageTimeoutA(w, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    printf("CTL %lu %lu %d %s %ld %ld %ld %ld %d %d %d ", (unsigned long)(ULONG_PTR)w,
           (unsigned long)(ULONG_PTR)GetParent(w), (int)(short)GetDlgCtrlID(w), cls, r.left, r.top,
           r.right, r.bottom, IsWindowVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0, (int)check);
    print_text(text);
    putchar('\n');
    if (strcmp(cls, "Edit") == 0) {
        DWORD_PTR first = 0, count = 0;
        SendMessageTimeoutA(w, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 2000, &first);
        SendMessageTimeoutA(w, EM_GETLINECOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
        printf("EDIT %d %d %d\n", (int)(short)GetDlgCtrlID(w), (int)first, (int)count);
    }
    return TRUE;
}

static void print_tabs(HWND tab)
{
    DWORD pid = 0;
    int count = (int)SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0);
    printf("TAB %d %d\n", count, (int)SendMessageA(tab, TCM_GETCURSEL, 0, 0));
    GetWindowThreadProcessId(tab, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return;
    char *remote = (char *)VirtualAllocEx(process, NULL, 4096, MEM_COMMIT, PAGE_READWRITE);
    for (int i = 0; remote && i < count; i++) {
        RECT r;
        char text[128];
        TCITEMA item;
        SIZE_T done;
        memset(&item, 0, sizeof item);
        item.mask = TCIF_TEXT;
        item.pszText = remote + 1024;
        item.cchTextMax = sizeof text;
        WriteProcessMemory(process, remote, &item, sizeof item, &done);
        SendMessageA(tab, TCM_GETITEMA, i, (LPARAM)remote);
        memset(text, 0, sizeof text);
        ReadProcessMemory(process, remote + 1024, text, sizeof text - 1, &done);
        SendMessageA(tab, TCM_GETITEMRECT, i, (LPARAM)(remote + 2048));
        ReadProcessMemory(process, remote + 2048, &r, sizeof r, &done);
        MapWindowPoints(tab, NULL, (POINT *)&r, 2);
        printf("TABITEM %d %ld %ld %ld %ld ", i, r.left, r.top, r.right, r.bottom);
        print_text(text);
        putchar('\n');
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
}

static void cmd_state(void)
{
    RECT r, c;
    POINT origin = {0, 0};
    if (!main_window || !IsWindow(main_window)) {
        printf("NOWINDOW\n");
        return;
    }
    GetWindowRect(main_window, &r);
    GetClientRect(main_window, &c);
    ClientToScreen(main_window, &origin);
    printf("MAIN %lu %ld %ld %ld %ld %ld %ld %ld %ld %d\n", (unsigned long)(ULONG_PTR)main_window,
           r.left, r.top, r.right, r.bottom, origin.x, origin.y, c.right, c.bottom,
           IsWindowEnabled(main_window) ? 1 : 0);
    EnumChildWindows(main_window, print_control, 0);
    HWND tab = FindWindowExA(main_window, NULL, "SysTabControl32", NULL);
    if (tab)
        print_tabs(tab);
}

static unsigned long rgb_text(COLORREF c)
{
    return ((unsigned long)GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

static void cmd_pixel(int x, int y)
{
    HDC screen = GetDC(NULL);
    printf("PIXEL %06lx\n", rgb_text(GetPixel(screen, x, y)));
    ReleaseDC(NULL, screen);
}

/* Saves the main window's area of the screen as a 24-bit BMP file. */
static void capture(const char *path)
{
    RECT r;
    if (!main_window || !GetWindowRect(main_window, &r))
        return;
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD stride = ((DWORD)w * 3 + 3) & ~3u;
    BITMAPFILEHEADER fh;
    memset(&fh, 0, sizeof fh);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + stride * h;
    FILE *f = fopen(path, "wb");
    if (f) {
        fwrite(&fh, sizeof fh, 1, f);
        fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
        fwrite(bits, stride, h, f);
        fclose(f);
    }
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
}

static void cmd_poll(int x, int y, int ms, const char *file)
{
    HDC screen = GetDC(NULL);
    COLORREF last = GetPixel(screen, x, y);
    DWORD start = GetTickCount();
    int captured = strcmp(file, "-") == 0;
    printf("READY\n");
    fflush(stdout);
    printf("AT 0 %06lx\n", rgb_text(last));
    for (;;) {
        DWORD now = GetTickCount() - start;
        if ((int)now > ms)
            break;
        COLORREF c = GetPixel(screen, x, y);
        if (c != last) {
            printf("AT %lu %06lx\n", (unsigned long)now, rgb_text(c));
            last = c;
            if (!captured) {
                capture(file);
                captured = 1;
            }
        }
        Sleep(1);
    }
    ReleaseDC(NULL, screen);
}

/* The Close box: the point of the caption that the window itself calls
   HTCLOSE, searched from the right along the caption's middle. */
static void cmd_close(void)
{
    RECT r;
    GetWindowRect(main_window, &r);
    int y = r.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = r.right - 1; x > r.left; x--) {
        DWORD_PTR hit = 0;
        SendMessageTimeoutA(main_window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &hit);
        if (hit == HTCLOSE) {
            printf("CLOSE %d %d\n", x - GetSystemMetrics(SM_CXSIZE) / 3, y);
            return;
        }
    }
    printf("NOCLOSE\n");
}

static BOOL CALLBACK print_tip(HWND w, LPARAM lp)
{
    char cls[64], text[512];
    (void)lp;
    if (!IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) || strcmp(cls, "tooltips_class32") != 0)
        return TRUE;
    text[0] = 0;
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
    printf("TIP ");
    print_text(text);
    putchar('\n');
    return TRUE;
}

/* The size argument lives in the other process, as for the tab items. */
static void cmd_ideal(int id)
{
    DWORD pid = 0;
    SIZE size = {0, 0};
    SIZE_T done;
    HWND button = GetDlgItem(main_window, id);
    GetWindowThreadProcessId(button, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char *remote = process ? (char *)VirtualAllocEx(process, NULL, 4096, MEM_COMMIT, PAGE_READWRITE) : NULL;
    if (!remote) {
        printf("IDEAL 0 0 0\n");
        return;
    }
    WriteProcessMemory(process, remote, &size, sizeof size, &done);
    DWORD_PTR ok = 0;
    SendMessageTimeoutA(button, BCM_GETIDEALSIZE, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, 2000, &ok);
    ReadProcessMemory(process, remote, &size, sizeof size, &done);
    printf("IDEAL %d %ld %ld\n", ok ? 1 : 0, size.cx, size.cy);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
}

static void cmd_focus(void)
{
    GUITHREADINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    HWND focus = NULL;
    if (main_window && GetGUIThreadInfo(GetWindowThreadProcessId(main_window, NULL), &info))
        focus = info.hwndFocus;
    char cls[64] = "";
    if (focus)
        GetClassNameA(focus, cls, sizeof cls);
    printf("FOCUS %lu %d %s\n", (unsigned long)(ULONG_PTR)focus, focus ? (int)(short)GetDlgCtrlID(focus) : 0,
           focus ? cls : "-");
}

/* The size a button's text needs, as the button itself gives it; the
   argument lives in the other process, as for the tab items. A button whose
   text wraps is asked for the height it needs at its own width. */
static int ideal_size(HWND button, SIZE *size)
{
    RECT client;
    GetClientRect(button, &client);
    LONG wraps = GetWindowLongW(button, GWL_STYLE) & BS_MULTILINE;
    DWORD pid = 0;
    SIZE_T done;
    GetWindowThreadProcessId(button, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char *remote = process ? (char *)VirtualAllocEx(process, NULL, 4096, MEM_COMMIT, PAGE_READWRITE) : NULL;
    DWORD_PTR ok = 0;
    if (remote) {
        size->cx = wraps ? client.right : 0;
        size->cy = 0;
        WriteProcessMemory(process, remote, size, sizeof *size, &done);
        SendMessageTimeoutA(button, BCM_GETIDEALSIZE, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, 2000, &ok);
        ReadProcessMemory(process, remote, size, sizeof *size, &done);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    if (process)
        CloseHandle(process);
    return ok != 0;
}

/* The extent of a static's text, as DrawText lays out one line (an & marks
   an access key unless the static says SS_NOPREFIX), in the static's font:
   a font belongs to the process that made it, so the same one is made here:
   the dialog's (MS Sans Serif, 8 points), and for the result line the
   message font's face at the height the dialog font is drawn at. */
static void text_size(HWND w, SIZE *size)
{
    wchar_t text[1024];
    text[0] = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
    HDC dc = GetDC(NULL);
    HFONT mine = CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE,
                             L"MS Sans Serif");
    HGDIOBJ old = SelectObject(dc, mine);
    if (GetDlgCtrlID(w) == RESULT_LINE) {
        TEXTMETRICW tm;
        NONCLIENTMETRICSW metrics;
        memset(&metrics, 0, sizeof metrics);
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        GetTextMetricsW(dc, &tm);
        metrics.lfMessageFont.lfHeight = -(tm.tmHeight - tm.tmInternalLeading);
        SelectObject(dc, old);
        DeleteObject(mine);
        mine = CreateFontIndirectW(&metrics.lfMessageFont);
        SelectObject(dc, mine);
    }
    RECT r = {0, 0, 0, 0};
    UINT flags = DT_CALCRECT | DT_SINGLELINE | ((GetWindowLongW(w, GWL_STYLE) & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    DrawTextW(dc, text, -1, &r, flags);
    SelectObject(dc, old);
    DeleteObject(mine);
    ReleaseDC(NULL, dc);
    size->cx = r.right;
    size->cy = r.bottom;
}

static BOOL CALLBACK print_fit(HWND w, LPARAM lp)
{
    char cls[64];
    wchar_t text[8];
    RECT r;
    (void)lp;
    LONG style = GetWindowLongW(w, GWL_STYLE);
    text[0] = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, 8, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
    if (!IsWindowVisible(w) || !text[0] || !GetClassNameA(w, cls, sizeof cls))
        return TRUE;
    SIZE need = {0, 0};
    if (strcmp(cls, "Button") == 0) {
        if ((style & BS_TYPEMASK) == BS_GROUPBOX || (style & (BS_ICON | BS_BITMAP)) || !ideal_size(w, &need))
            return TRUE;
    } else if (strcmp(cls, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON)
            return TRUE;
        text_size(w, &need);
    } else {
        return TRUE;
    }
    GetClientRect(w, &r);
    printf("FIT %d %s %ld %ld %ld %ld\n", (int)(short)GetDlgCtrlID(w), cls, need.cx, need.cy, r.right,
           r.bottom);
    return TRUE;
}

/* IAccessible's interface id, written out: the x86_64 import library of
   oleacc.dll offers IID_IAccessible as a call thunk, not as the data that
   the DLL exports, so taking its address there gives the thunk's bytes. */
static const GUID kIAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

/* The name that Active Accessibility gives the control. */
static void cmd_name(int id)
{
    IAccessible *acc = NULL;
    HWND control = GetDlgItem(main_window, id);
    BSTR name = NULL;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    HRESULT found = E_FAIL, named = E_FAIL;
    if (control)
        found = AccessibleObjectFromWindow(control, (DWORD)OBJID_CLIENT, &kIAccessible, (void **)&acc);
    if (found == S_OK)
        named = IAccessible_get_accName(acc, self, &name);
    if (named == S_OK && name) {
        char text[1024];
        WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof text, NULL, NULL);
        printf("NAME 1 %s\n", text);
    } else {
        /* Which step gave no name, for the test's message. */
        printf("NAME 0 %p %08lx %08lx\n", (void *)control, (unsigned long)found, (unsigned long)named);
    }
    if (name)
        SysFreeString(name);
    if (acc)
        IAccessible_Release(acc);
}

static void cmd_alive(int ms)
{
    DWORD start = GetTickCount(), slowest = 0;
    int calls = 0, missed = 0;
    while ((int)(GetTickCount() - start) < ms) {
        DWORD before = GetTickCount();
        DWORD_PTR result;
        if (!SendMessageTimeoutA(main_window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result))
            missed++;
        DWORD took = GetTickCount() - before;
        slowest = took > slowest ? took : slowest;
        calls++;
        Sleep(20);
    }
    printf("ALIVE %d %d %lu\n", calls, missed, (unsigned long)slowest);
}

int main(void)
{
    char line[1024];
    CoInitialize(NULL);
    while (fgets(line, sizeof line, stdin)) {
        char cmd[32], file[900];
        int x = 0, y = 0, ms = 0;
        cmd[0] = 0;
        sscanf(line, "%31s", cmd);
        if (strcmp(cmd, "quit") == 0)
            break;
        if (strcmp(cmd, "find") == 0)
            cmd_find();
        else if (strcmp(cmd, "state") == 0)
            cmd_state();
        else if (strcmp(cmd, "pixel") == 0 && sscanf(line, "%*s %d %d", &x, &y) == 2)
            cmd_pixel(x, y);
        else if (strcmp(cmd, "poll") == 0 && sscanf(line, "%*s %d %d %d %899[^\r\n]", &x, &y, &ms, file) == 4)
            cmd_poll(x, y, ms, file);
        else if (strcmp(cmd, "close") == 0)
            cmd_close();
        else if (strcmp(cmd, "tip") == 0)
            EnumWindows(print_tip, 0);
        else if (strcmp(cmd, "ideal") == 0 && sscanf(line, "%*s %d", &x) == 1)
            cmd_ideal(x);
        else if (strcmp(cmd, "focus") == 0)
            cmd_focus();
        else if (strcmp(cmd, "fit") == 0 && main_window)
            EnumChildWindows(main_window, print_fit, 0);
        else if (strcmp(cmd, "name") == 0 && sscanf(line, "%*s %d", &x) == 1)
            cmd_name(x);
        else if (strcmp(cmd, "alive") == 0 && sscanf(line, "%*s %d", &ms) == 1)
            cmd_alive(ms);
        else
            printf("BAD %s", line);
        printf("END\n");
        fflush(stdout);
    }
    return 0;
}
