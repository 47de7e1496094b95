/* Test driver for webtrim.exe under Wine.

   Starts the command line held in the environment variable WT_CMDLINE
   exactly as written (Wine would re-quote arguments given to it from
   Linux), answers every message box that the child shows, and prints one
   line per box and one for the exit:

       BOX <tab> caption <tab> icon <tab> text      (line breaks as \n)
       EXIT <tab> code

   icon is error, warning, information, question or none. Boxes with an OK
   button get OK; others get the button whose id is in WT_PRESS (default:
   IDNO, then IDCANCEL). WT_TIMEOUT (ms, default 60000) ends a hung child. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static DWORD child_pid;
static int press_id = IDNO;

static const char *icon_name(HWND box)
{
    HWND ctl = GetDlgItem(box, 0x440);       /* the message box's icon */
    if (!ctl || !IsWindowVisible(ctl))
        return "none";
    HICON icon = (HICON)SendMessageA(ctl, STM_GETICON, 0, 0);
    if (!icon)
        return "none";
    if (icon == LoadIconA(NULL, (LPCSTR)IDI_HAND))
        return "error";
    if (icon == LoadIconA(NULL, (LPCSTR)IDI_EXCLAMATION))
        return "warning";
    if (icon == LoadIconA(NULL, (LPCSTR)IDI_ASTERISK))
        return "information";
    if (icon == LoadIconA(NULL, (LPCSTR)IDI_QUESTION))
        return "question";
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

static BOOL CALLBACK visit(HWND w, LPARAM lp)
{
    (void)lp;
    DWORD pid = 0;
    char cls[64];
    GetWindowThreadProcessId(w, &pid);
    if (pid != child_pid || !IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) ||
        strcmp(cls, "#32770") != 0)
        return TRUE;
    /* A message box has its text in a static control with id 0xFFFF; the
       main window of webtrim has none. */
    HWND text = GetDlgItem(w, 0xFFFF);
    if (!text)
        return TRUE;
    char caption[256], body[4096];
    GetWindowTextA(w, caption, sizeof caption);
    GetWindowTextA(text, body, sizeof body);
    printf("BOX\t%s\t%s\t", caption, icon_name(w));
    print_escaped(body);
    putchar('\n');
    fflush(stdout);
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
    char *line = _strdup(cmd);
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        printf("NOSTART\t%lu\n", (unsigned long)GetLastError());
        return 3;
    }
    child_pid = pi.dwProcessId;
    DWORD waited = 0;
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0)
            break;
        waited += 100;
        EnumWindows(visit, 0);
        if (waited > timeout) {
            TerminateProcess(pi.hProcess, 99);
            printf("TIMEOUT\n");
            return 4;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("EXIT\t%lu\n", (unsigned long)code);
    return 0;
}
