// A run started by the window or the command line: the page cleaned in
// place under the window's settings. The run tells what happens through
// callbacks that only collect: its messages are shown in message boxes
// after it has returned, and the picture's flash is posted, so nothing the
// run does re-enters the window while the run is on the stack.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include "app/run.h"
#include "ui/window.h"

HWND MainWindow;
uint32_t CleanOptions = kDefaultOptions;
char TargetFolder[kTargetFolderSize];

enum { kFlashCommand = 104, kMaxMessages = 8 };

struct Collected {
    MessageKind kind;
    int id;
    int sysError;
    char *detail;
};

struct RunMessages {
    Collected list[kMaxMessages];
    int count;
};

static void Collect(void *context, MessageKind kind, int id, const char *detail, int sysError)
{
    RunMessages *m = (RunMessages *)context;
    if (m->count == kMaxMessages)
        return;
    Collected *c = &m->list[m->count++];
    c->kind = kind;
    c->id = id;
    c->sysError = sysError;
    c->detail = detail && *detail ? _strdup(detail) : NULL;
}

static void Started(void *)
{
    if (MainWindow)
        PostMessageA(MainWindow, WM_COMMAND, kFlashCommand, 0);
}

void ShowMessageBox(MessageKind kind, int id, const char *detail)
{
    bool error = kind == kMessageError;
    const char *text = MessageText(kind, id);
    unsigned style = MB_OK | (error ? MB_ICONERROR : MB_ICONWARNING);
    if (!detail || !*detail) {
        MessageBoxA(MainWindow, text, "Webtrim", style);
        return;
    }
    size_t a = strlen(text), b = strlen(detail);
    char *whole = (char *)malloc(a + b + 1);
    if (!whole) {
        MessageBoxA(MainWindow, text, "Webtrim", style);
        return;
    }
    memcpy(whole, text, a);
    memcpy(whole + a, detail, b + 1);
    MessageBoxA(MainWindow, whole, "Webtrim", style);
    free(whole);
}

bool RunPage(const char *path, PageResult *result)
{
    RunMessages messages;
    messages.count = 0;
    RunCallbacks callbacks = {&messages, Collect, Started, NULL};
    DisposalTarget target;
    OpenDisposalTarget((CleanOptions & kOptRecycleBin) != 0, TargetFolder, &target);
    PageJob job = {path, NULL, NULL, SwitchesFromWord(CleanOptions), &target, &callbacks, true, false};
    PageResult own;
    PageResult *r = result ? result : &own;
    CleanPageInPlace(&job, r);
    CloseDisposalTarget(&target);
    for (int i = 0; i < messages.count; i++) {
        ShowMessageBox(messages.list[i].kind, messages.list[i].id, messages.list[i].detail);
        free(messages.list[i].detail);
    }
    return r->outcome == kPageCleaned || r->outcome == kPageAlreadyClean;
}
