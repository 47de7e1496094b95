/* Test driver for webtrim.exe under Wine.

   Starts the command line held in the environment variable WT_CMDLINE
   exactly as written (Wine would re-quote arguments given to it from
   Linux), answers every message box that the child shows, and prints one
   line per box and one for the exit:

       BOX <tab> caption <tab> icon <tab> text <tab> default   (line breaks as \n)
       REPORT <tab> l t r b <tab> l t r b <tab> copied
       EXIT <tab> code

   WT_CMDLINE may hold several command lines, one a line: they are started
   one right after another, their boxes answered alike, and each has its
   EXIT line, in the order of the lines, once all have ended.

   Texts are given in UTF-8.

   icon is error, warning, information, question or none. The shell's own
   confirmations (Yes and No buttons, a text they draw themselves) are
   listed with an empty text. Boxes with an OK button get OK; others get
   the button whose id is in WT_PRESS (default: IDNO, then IDCANCEL).
   WT_TIMEOUT (ms, default 60000) ends a hung child. default is the id of
   the box's default button (see default_button).

   webtrim's report dialog is read as a box (its sentence is its text) and
   then as a REPORT line: its rectangle, the work area of its monitor, and
   the text its Copy button puts on the clipboard (empty when it has no
   list; a backslash written \\), pressed and read before the dialog
   gets its OK. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { REPORT_LIST = 1040, REPORT_COPY = 1041 };   /* webtrim's report dialog */

enum { kMostChildren = 32 };
static DWORD child_pids[kMostChildren];
static int child_count;

static int is_child(DWORD pid)
{
    for (int i = 0; i < child_count; i++)
        if (child_pids[i] == pid)
            return 1;
    return 0;
}
static int press_id = IDNO;

/* Icon handles belong to the process that loaded them and cannot be drawn
   here, so the icon is read off the screen: the opaque pixels of each
   system icon, drawn here, are compared with the pixels shown in the box. */
static void draw_icon(HICON icon, COLORREF back, COLORREF out[32][32])
{
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ old = SelectObject(dc, bmp);
    HBRUSH brush = CreateSolidBrush(back);
    RECT r = {0, 0, 32, 32};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    DrawIconEx(dc, 0, 0, icon, 32, 32, 0, NULL, DI_NORMAL);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++)
            out[y][x] = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
}

static int shown_icon_is(HWND ctl, HICON icon)
{
    static COLORREF onWhite[32][32], onBlack[32][32];
    draw_icon(icon, RGB(255, 255, 255), onWhite);
    draw_icon(icon, RGB(0, 0, 0), onBlack);
    RECT r;
    GetWindowRect(ctl, &r);
    HDC screen = GetDC(NULL);
    int opaque = 0, same = 0;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            if (onWhite[y][x] != onBlack[y][x])
                continue;
            opaque++;
            if (GetPixel(screen, r.left + x, r.top + y) == onWhite[y][x])
                same++;
        }
    ReleaseDC(NULL, screen);
    return opaque > 0 && same * 100 >= opaque * 95;
}

static const char *icon_name(HWND box)
{
    HWND ctl = GetDlgItem(box, 0x440);       /* the message box's icon */
    if (!ctl || !IsWindowVisible(ctl))
        return "none";
    HICON icon = (HICON)SendMessageA(ctl, STM_GETICON, 0, 0);
    if (!icon)
        return "none";
    static const struct { LPCSTR id; const char *name; } kinds[] = {
        {(LPCSTR)IDI_HAND, "error"},
        {(LPCSTR)IDI_EXCLAMATION, "warning"},
        {(LPCSTR)IDI_ASTERISK, "information"},
        {(LPCSTR)IDI_QUESTION, "question"},
    };
    for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; i++) {
        if (shown_icon_is(ctl, LoadIconA(NULL, kinds[i].id)))
            return kinds[i].name;
    }
    return "other";
}

static void print_escaped(const char *s)
{
    for (; *s; s++) {
        if (*s == '\n')
            fputs("\\n", stdout);
        else if (*s == '\r')
            ;
        else if (*s == '\t')
            fputs("\\t", stdout);
        else
            putchar(*s);
    }
}

/* The box's default button: the one drawn as the default (a message box
   marks it so and gives it the focus, without DM_SETDEFID), else the one
   with the focus, else the dialog's DM_GETDEFID; 0 for none. */
static int default_button(HWND w)
{
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[16];
        if (GetClassNameA(c, cls, sizeof cls) && lstrcmpiA(cls, "Button") == 0 &&
            (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return GetDlgCtrlID(c);
    }
    GUITHREADINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(w, NULL), &info) && info.hwndFocus &&
        GetParent(info.hwndFocus) == w)
        return GetDlgCtrlID(info.hwndFocus);
    DWORD_PTR def = 0;
    SendMessageTimeoutA(w, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &def);
    return HIWORD(def) == DC_HASDEFID ? (int)LOWORD(def) : 0;
}

/* The REPORT line of webtrim's report dialog. Copy is sent, not posted:
   the clipboard holds the text once the call returns. */
static void print_report(HWND w)
{
    RECT r, work;
    MONITORINFO monitor;
    monitor.cbSize = sizeof monitor;
    GetWindowRect(w, &r);
    GetMonitorInfoA(MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), &monitor);
    work = monitor.rcWork;
    printf("REPORT\t%ld %ld %ld %ld\t%ld %ld %ld %ld\t", r.left, r.top, r.right, r.bottom, work.left,
           work.top, work.right, work.bottom);
    HWND copy = GetDlgItem(w, REPORT_COPY);
    if (copy && IsWindowVisible(copy)) {
        SendMessageTimeoutA(w, WM_COMMAND, MAKEWPARAM(REPORT_COPY, BN_CLICKED), (LPARAM)copy,
                            SMTO_ABORTIFHUNG, 5000, NULL);
        if (OpenClipboard(NULL)) {
            HANDLE data = GetClipboardData(CF_UNICODETEXT);
            const wchar_t *text = data ? (const wchar_t *)GlobalLock(data) : NULL;
            if (text) {
                int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
                char *utf8 = (char *)malloc(n > 0 ? n : 1);
                if (utf8 && WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, n, NULL, NULL) <= 0)
                    utf8[0] = 0;
                for (const char *c = utf8; utf8 && *c; c++) {
                    if (*c == '\\')
                        fputs("\\\\", stdout);
                    else if (*c == '\n')
                        fputs("\\n", stdout);
                    else if (*c == '\t')
                        fputs("\\t", stdout);
                    else if (*c != '\r')
                        putchar(*c);
                }
                free(utf8);
                GlobalUnlock(data);
            }
            CloseClipboard();
        }
    }
    putchar('\n');
    fflush(stdout);
}

static BOOL CALLBACK visit(HWND w, LPARAM lp)
{
    (void)lp;
    DWORD pid = 0;
    char cls[64];
    GetWindowThreadProcessId(w, &pid);
    if (!is_child(pid) || !IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) ||
        strcmp(cls, "#32770") != 0)
        return TRUE;
    /* A message box has its text in a static control with id 0xFFFF; the
       main window of webtrim has none. The shell's confirmations draw their
       text themselves (it reads as empty): they are known by Yes and No. */
    HWND text = GetDlgItem(w, 0xFFFF);
    if (!text && !(GetDlgItem(w, IDYES) && GetDlgItem(w, IDNO)))
        return TRUE;
    Sleep(400);                         /* let the box paint itself */
    char caption[768], body[12288] = "";
    wchar_t wide[4096] = L"";
    GetWindowTextW(w, wide, 256);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, caption, sizeof caption, NULL, NULL);
    if (text) {
        GetWindowTextW(text, wide, 4096);
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, body, sizeof body, NULL, NULL);
    }
    printf("BOX\t%s\t%s\t", caption, icon_name(w));
    print_escaped(body);
    printf("\t%d\n", default_button(w));
    fflush(stdout);
    if (GetDlgItem(w, REPORT_LIST))
        print_report(w);
    int id = GetDlgItem(w, IDOK) ? IDOK : GetDlgItem(w, press_id) ? press_id : IDCANCEL;
    PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(w, id));
    Sleep(300);
    return FALSE;
}

int main(void)
{
    const char *cmd = getenv("WT_CMDLINE");
    const char *press = getenv("WT_PRESS");
    const char *timeout_text = getenv("WT_TIMEOUT");
    DWORD timeout = timeout_text ? (DWORD)atol(timeout_text) : 60000;
    if (press)
        press_id = atoi(press);
    if (!cmd) {
        fprintf(stderr, "wtdrive: WT_CMDLINE is not set\n");
        return 2;
    }
    /* Read again in UTF-16, so that names in any script pass unchanged. */
    static wchar_t line[32768];
    if (!GetEnvironmentVariableW(L"WT_CMDLINE", line, sizeof line / sizeof line[0])) {
        fprintf(stderr, "wtdrive: WT_CMDLINE is too long\n");
        return 2;
    }
    /* Several command lines, one a line, start one after another at once,
       as Explorer starts one run for each page of a selection. */
    wchar_t *starts[kMostChildren];
    HANDLE processes[kMostChildren];
    int count = 0;
    for (wchar_t *p = line; count < kMostChildren; count++) {
        starts[count] = p;
        wchar_t *end = wcschr(p, L'\n');
        if (!end) {
            count++;
            break;
        }
        *end = 0;
        p = end + 1;
    }
    for (int i = 0; i < count; i++) {
        STARTUPINFOW si;
        PROCESS_INFORMATION pi;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        if (!CreateProcessW(NULL, starts[i], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            printf("NOSTART\t%lu\n", (unsigned long)GetLastError());
            return 3;
        }
        processes[i] = pi.hProcess;
        child_pids[i] = pi.dwProcessId;
        CloseHandle(pi.hThread);
    }
    child_count = count;
    DWORD waited = 0;
    for (;;) {
        if (WaitForMultipleObjects(count, processes, TRUE, 100) != WAIT_TIMEOUT)
            break;
        waited += 100;
        EnumWindows(visit, 0);
        if (waited > timeout) {
            for (int i = 0; i < count; i++)
                TerminateProcess(processes[i], 99);
            printf("TIMEOUT\n");
            return 4;
        }
    }
    for (int i = 0; i < count; i++) {
        DWORD code = 0;
        GetExitCodeProcess(processes[i], &code);
        printf("EXIT\t%lu\n", (unsigned long)code);
    }
    return 0;
}
