// Message boxes and the run's flash notice on Windows.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include "app/report.h"
#include "ui/window.h"

HWND MainWindow;

static void ShowBox(const char *text, unsigned style)
{
    MessageBoxA(MainWindow, text, "Webtrim", MB_OK | style);
}

void ShowMessage(MessageKind kind, int id, const char *detail, int sysError)
{
    (void)sysError;                         // the boxes keep their fixed texts
    bool error = kind == kMessageError;
    const char *text = error ? kErrorTexts[id] : kWarningTexts[id];
    unsigned style = error ? MB_ICONERROR : MB_ICONWARNING;
    if (!detail || !*detail) {
        ShowBox(text, style);
        return;
    }
    size_t a = strlen(text), b = strlen(detail);
    char *whole = (char *)malloc(a + b + 1);
    if (!whole) {
        ShowBox(text, style);
        return;
    }
    memcpy(whole, text, a);
    memcpy(whole + a, detail, b + 1);
    ShowBox(whole, style);
    free(whole);
}

enum { kFlashCommand = 104 };

void NotifyRunStarted()
{
    if (MainWindow)
        SendMessageA(MainWindow, WM_COMMAND, kFlashCommand, 0);
}
