// Entry of the Windows program. With a path on the command line it cleans
// that page and ends without a window; otherwise it shows the main window.
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include "app/cmdline.h"
#include "app/settings.h"
#include "ui/window.h"

HINSTANCE Instance;
char HelpPagePath[kHelpPathSize];
char HelpFilePath[kHelpPathSize];

// The help lies beside the program: the HTML page, and the WinHelp file
// of older versions. A program path too long for the buffers leaves a
// path empty rather than cut.
static void BesideProgram(const char *name, char *path)
{
    char exe[MAX_PATH + 1];
    path[0] = 0;
    DWORD n = GetModuleFileNameA(NULL, exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    exe[n] = 0;
    char *slash = strrchr(exe, '\\');
    size_t keep = slash ? (size_t)(slash - exe) + 1 : 0;
    size_t length = strlen(name);
    if (keep + length + 1 > kHelpPathSize)
        return;
    memcpy(path, exe, keep);
    memcpy(path + keep, name, length + 1);
}

// Puts the command-line tail into `path`. The Windows 95 family gets the
// long form of the path; NT takes it as it is, less its quotes.
static bool TakePath(const char *tail, char *path)
{
    if (GetVersion() & 0x80000000u) {
        DWORD n = GetLongPathNameA(tail, path, MAX_PATH);
        return n > 0 && n < MAX_PATH;
    }
    return TakeCommandLinePath(tail, path, MAX_PATH);
}

static void LoadWindowSettings()
{
    Settings s;
    char problem[256];
    LoadSettings(&s, true, problem, sizeof problem);
    CleanOptions = s.word;
    memcpy(TargetFolder, s.targetFolder, sizeof TargetFolder);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int)
{
    Instance = instance;
    LoadWindowSettings();
    BesideProgram("Webtrim.html", HelpPagePath);
    BesideProgram("Wtrim.hlp", HelpFilePath);
    if (!cmdLine || !*cmdLine) {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES};
        InitCommonControlsEx(&icc);
        return (int)ShowMainWindow();
    }
    char path[MAX_PATH + 1];
    if (!TakePath(cmdLine, path)) {
        ShowMessageBox(kMessageError, kErrCannotOpen, NULL);
        return 1;
    }
    return RunPage(path) ? 0 : 1;
}
