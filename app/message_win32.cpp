// Message boxes and the run's flash notice on Windows.
#include <windows.h>
#include "clean/report.h"
#include "ui/window.h"

HWND MainWindow;

void ShowMessage(const char *text, unsigned style)
{
    MessageBoxA(MainWindow, text, "Webtrim", MB_OK | style);
}

enum { kFlashCommand = 104 };

void NotifyRunStarted()
{
    if (MainWindow)
        SendMessageA(MainWindow, WM_COMMAND, kFlashCommand, 0);
}
