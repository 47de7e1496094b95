// Entry of the Windows program. With a path on the command line it cleans
// that page and ends without a window; otherwise it shows the main window.
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include "app/cmdline.h"
#include "app/options.h"
#include "app/settings.h"
#include "clean/report.h"
#include "clean/run.h"
#include "ui/window.h"

HINSTANCE Instance;
char HelpFilePath[kHelpPathSize];

static const char kHelpFileName[] = "Wtrim.hlp";

// The help file lies beside the program. A program path too long for the
// buffer leaves the help path empty rather than cut.
static void BuildHelpPath()
{
    char exe[MAX_PATH + 1];
    HelpFilePath[0] = 0;
    DWORD n = GetModuleFileNameA(NULL, exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    exe[n] = 0;
    char *slash = strrchr(exe, '\\');
    size_t keep = slash ? (size_t)(slash - exe) + 1 : 0;
    if (keep + sizeof kHelpFileName > sizeof HelpFilePath)
        return;
    memcpy(HelpFilePath, exe, keep);
    memcpy(HelpFilePath + keep, kHelpFileName, sizeof kHelpFileName);
}

// Puts the command-line tail into CurrentFile. The Windows 95 family gets
// the long form of the path; NT takes it as it is, less its quotes.
static bool TakePath(const char *tail)
{
    if (GetVersion() & 0x80000000u) {
        DWORD n = GetLongPathNameA(tail, CurrentFile, MAX_PATH);
        return n > 0 && n < MAX_PATH;
    }
    return TakeCommandLinePath(tail, CurrentFile, MAX_PATH);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int)
{
    Instance = instance;
    LoadSettings();
    BuildHelpPath();
    if (!cmdLine || !*cmdLine) {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES};
        InitCommonControlsEx(&icc);
        return (int)ShowMainWindow();
    }
    if (!TakePath(cmdLine)) {
        ReportError(kErrCannotOpen);
        return 1;
    }
    return CleaningRun() ? 0 : 1;
}
