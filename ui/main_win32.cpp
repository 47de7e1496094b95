// Entry of the Windows program. With paths on the command line it cleans
// those pages and ends without a window; otherwise it shows the main window.
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>
#include "app/cmdline.h"
#include "app/options.h"
#include "app/settings.h"
#include "ui/batch.h"
#include "ui/main.h"
#include "ui/mainwnd.h"
#include "ui/run.h"

HINSTANCE Instance;
char HelpPagePath[kHelpPathSize];
char HelpFilePath[kHelpPathSize];

// The help lies beside the program: the HTML page, and the WinHelp file
// of older versions. A program path too long for the buffers, or one that
// the ANSI code page cannot write, leaves a path empty rather than cut.
static void BesideProgram(const char *name, char *path)
{
    wchar_t wide[MAX_PATH + 1];
    char exe[kHelpPathSize];
    path[0] = 0;
    DWORD n = GetModuleFileNameW(NULL, wide, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    wide[n] = 0;
    if (!WideToAnsi(wide, exe, sizeof exe))
        return;
    char *slash = strrchr(exe, '\\');
    size_t keep = slash ? (size_t)(slash - exe) + 1 : 0;
    size_t length = strlen(name);
    if (keep + length + 1 > kHelpPathSize)
        return;
    memcpy(path, exe, keep);
    memcpy(path + keep, name, length + 1);
}

// Puts the command-line tail into CurrentFile. The Windows 95 family gets
// the long form of the path; NT takes it as it is, less its quotes.
static bool TakePath(const char *tail)
{
    if (GetVersion() & 0x80000000u) {
        DWORD n = GetLongPathNameA(tail, CurrentFile, MAX_PATH);
        return n > 0 && n < MAX_PATH;
    }
    return TakeCommandLinePath(tail, CurrentFile, kCurrentFileSize - 1);
}

// The pages named on the command line. When the whole tail, less its
// quotes, names a file or folder, that is the one item, as a page with
// blanks in its path was always named; otherwise the tail is split as
// CommandLineToArgvW splits it ("Send To" quotes each path of a selection)
// and each piece is an item, a missing one included.
static void CommandLineItems(const char *tail, PathList *items)
{
    bool taken = TakePath(tail);
    if (taken && GetFileAttributesA(CurrentFile) != INVALID_FILE_ATTRIBUTES) {
        AddPath(items, CurrentFile);
        return;
    }
    if (GetVersion() & 0x80000000u) {
        if (taken)
            AddPath(items, CurrentFile);
        else
            ShowMessageBox(kMessageError, kErrCannotOpen, NULL);
        return;
    }
    char *pieces = (char *)malloc(strlen(tail) + 1);
    if (!pieces)
        return;
    const char *piece = pieces;
    for (int n = SplitCommandLine(tail, pieces); n > 0; n--, piece += strlen(piece) + 1)
        AddPath(items, piece);
    free(pieces);
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
    PathList items = {}, pages = {};
    CommandLineItems(cmdLine, &items);
    CollectPages(&items, &pages);
    // No window shows a result line: the report always comes.
    BatchOutcome outcome = CleanPages(&pages, NULL, true);
    FreePathList(&items);
    FreePathList(&pages);
    return outcome.failed == 0 && outcome.cleaned > 0 ? 0 : 1;
}
