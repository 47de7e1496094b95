// Entry of the Windows program. With paths on the command line it cleans
// those pages and ends without a window, with a report of what it did;
// otherwise it shows the main window.
//
// Gathering: Explorer starts one run for each page of a selection given to
// its command. The first of runs started together holds a named mutex and a
// hidden window of its own class, which takes the items of each later run
// in a WM_COPYDATA (tag kGatherTag: the items one after another, each ended
// by a zero); it waits for them until half a second passes without one (five
// seconds at most), then cleans them all in one run with one report, taking
// the items of runs that start while it cleans into the same run. A named
// event says that the first's window is there to take items (or that the
// first could not make one). A later run ends once the first has taken its
// items; one that finds the mutex but cannot hand its items over (the first
// has cleaned its last page) cleans them itself.
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

// Puts the command-line tail into `taken` (kTakenPathSize bytes). The
// Windows 95 family gets the long form of the path; NT takes it as it is,
// less its quotes.
static bool TakePath(const char *tail, char *taken)
{
    if (GetVersion() & 0x80000000u) {
        DWORD n = GetLongPathNameA(tail, taken, MAX_PATH);
        return n > 0 && n < MAX_PATH;
    }
    return TakeCommandLinePath(tail, taken, kTakenPathSize - 1);
}

// The pages named on the command line. When the whole tail, less its
// quotes, names a file or folder, that is the one item, as a page with
// blanks in its path was always named; otherwise the tail is split as
// CommandLineToArgvW splits it ("Send To" quotes each path of a selection)
// and each piece is an item, a missing one included.
static void CommandLineItems(const char *tail, PathList *items)
{
    char path[kTakenPathSize];
    bool taken = TakePath(tail, path);
    if (taken && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        AddPath(items, path);
        return;
    }
    if (GetVersion() & 0x80000000u) {
        if (taken)
            AddPath(items, path);
        else
            ShowMessageBox(NULL, kMessageError, kErrCannotOpen, NULL);
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

static const char kGatherName[] = "Webtrim.Gather";     // the mutex's and the window class's
static const char kGatherReadyName[] = "Webtrim.GatherReady";
enum {
    kGatherTag = 0x57545031,        // "WTP1"
    kGatherQuietMilliseconds = 500,
    kGatherMostMilliseconds = 5000,
    kHandOverMilliseconds = 5000,
};

static HWND Receiver;               // the first run's window that takes items
static PathList Pending;            // items taken, not yet in the run
static DWORD LastHandOver;

static LRESULT CALLBACK TakeItems(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcA(window, message, wParam, lParam);
    const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
    const char *text = (const char *)data->lpData, *end = text + data->cbData;
    if (!Receiver || data->dwData != kGatherTag || data->cbData == 0 || end[-1] != 0)
        return FALSE;
    for (const char *p = text; p < end; p += strlen(p) + 1)
        AddPath(&Pending, p);
    LastHandOver = GetTickCount();
    return TRUE;
}

// Gives `items` to the first run once it is ready to take them; false when
// it did not take them.
static bool HandOver(const PathList *items, HANDLE ready)
{
    if (!ready || WaitForSingleObject(ready, kHandOverMilliseconds) != WAIT_OBJECT_0)
        return false;
    HWND first = FindWindowA(kGatherName, NULL);
    if (!first || items->count == 0)
        return false;
    COPYDATASTRUCT data = {kGatherTag, (DWORD)items->size, items->text};
    DWORD_PTR taken = 0;
    return SendMessageTimeoutA(first, WM_COPYDATA, 0, (LPARAM)&data, SMTO_ABORTIFHUNG,
                               kHandOverMilliseconds, &taken) && taken;
}

static void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// The first run makes its window, says it is ready, and waits for the
// items of the others until half a second passes without one.
static void Gather(HANDLE ready)
{
    WNDCLASSA kind;
    memset(&kind, 0, sizeof kind);
    kind.lpfnWndProc = TakeItems;
    kind.hInstance = Instance;
    kind.lpszClassName = kGatherName;
    if (RegisterClassA(&kind))
        Receiver = CreateWindowA(kGatherName, "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, Instance, NULL);
    if (ready)
        SetEvent(ready);
    DWORD start = GetTickCount();
    LastHandOver = start;
    while (Receiver) {
        DWORD now = GetTickCount(), quiet = now - LastHandOver;
        if (quiet >= kGatherQuietMilliseconds || now - start >= kGatherMostMilliseconds)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, kGatherQuietMilliseconds - quiet, QS_ALLINPUT);
        Pump();
    }
}

// No more items are taken; a handover still on its way is answered now,
// as not taken.
static void StopGathering()
{
    if (!Receiver)
        return;
    HWND gone = Receiver;
    Receiver = NULL;
    DestroyWindow(gone);
    Pump();
}

// Puts the items taken so far, folders asked about, into `items` or, once
// the run has begun, into `run` (its folders walked under the run's
// settings); true when the run got more pages. Runs started once the first
// is cleaning still join it, for as long as it cleans.
static bool TakePending(PathList *items, Batch *run)
{
    if (Receiver)
        Pump();
    if (Pending.count == 0)
        return false;
    // Taken out first: a question about a folder lets more come in.
    PathList taken = Pending, pages = {};
    memset(&Pending, 0, sizeof Pending);
    bool more = false;
    if (!run) {
        for (const char *p = FirstPath(&taken); p; p = NextPath(&taken, p))
            AddPath(items, p);
    } else {
        CollectPages(&taken, &run->settings, NULL, &pages);
        more = AddBatchPages(run, &pages);
    }
    FreePathList(&taken);
    FreePathList(&pages);
    return more;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int)
{
    Instance = instance;
    // The user's settings: the window's to edit, or the command line's run's.
    Settings settings;
    char problem[256];
    LoadSettings(&settings, true, problem, sizeof problem);
    BesideProgram("Webtrim.html", HelpPagePath);
    BesideProgram("Wtrim.hlp", HelpFilePath);
    if (!cmdLine || !*cmdLine) {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES};
        InitCommonControlsEx(&icc);
        return (int)ShowMainWindow(&settings);
    }
    PathList items = {}, pages = {};
    CommandLineItems(cmdLine, &items);
    HANDLE gathering = CreateMutexA(NULL, FALSE, kGatherName);
    bool later = gathering && GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE ready = gathering ? CreateEventA(NULL, TRUE, FALSE, kGatherReadyName) : NULL;
    if (later && HandOver(&items, ready)) {
        CloseHandle(ready);
        CloseHandle(gathering);
        FreePathList(&items);
        return 0;
    }
    if (gathering && !later) {
        if (ready)
            ResetEvent(ready);      // left set by an earlier first run still held open
        Gather(ready);
        TakePending(&items, NULL);
    }
    CollectPages(&items, &settings, NULL, &pages);
    FreePathList(&items);
    Batch run;
    bool begun = BeginBatch(&pages, &settings, NULL, &run);
    if (!begun) {
        // Nothing of its own to clean: what came in meanwhile, if anything.
        StopGathering();
        TakePending(&items, NULL);
        CollectPages(&items, &settings, NULL, &pages);
        FreePathList(&items);
        begun = BeginBatch(&pages, &settings, NULL, &run);
    }
    // No window shows a result line: the report always comes.
    BatchOutcome outcome = {0, 0, 0};
    if (begun) {
        do {
            while (CleanNextPage(&run))
                TakePending(NULL, &run);
            StopGathering();
        } while (TakePending(NULL, &run));
        outcome = EndBatch(&run, NULL, true);
    }
    StopGathering();
    if (ready)
        CloseHandle(ready);
    if (gathering)
        CloseHandle(gathering);
    FreePathList(&pages);
    return outcome.failed == 0 && outcome.cleaned > 0 ? 0 : 1;
}
