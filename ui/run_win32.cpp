// A run started by the window or the command line: a page cleaned in place
// under the window's settings. The run tells what happens through callbacks
// that only collect: its messages are shown in message boxes after it has
// returned, and the picture's flash is posted, so nothing the run does
// re-enters the window while the run is on the stack.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/run.h"
#include "ui/run.h"
#include "ui/mainwnd.h"

uint32_t CleanOptions = kDefaultOptions;
char TargetFolder[kTargetFolderSize];
char CurrentFile[kCurrentFileSize];

enum { kFlashCommand = 104, kReasonSize = 512 };

static const char kCaption[] = "Webtrim";

static void Keep(PageMessages *m, MessageKind kind, int id, const char *detail, int sysError)
{
    if (m->count == kMaxPageMessages)
        return;
    PageMessage *c = &m->list[m->count++];
    c->kind = kind;
    c->id = id;
    c->sysError = sysError;
    c->detail = detail && *detail ? _strdup(detail) : NULL;
}

// The run's warnings as they come. What stops a page (an error, a name
// refused) is taken from the page's record once the run is over, as the
// result line and the command line's reports take it.
static void Collect(void *context, MessageKind kind, int id, const char *detail, int sysError)
{
    if (kind == kMessageError || id == kWarnNotPermissible)
        return;
    Keep((PageMessages *)context, kind, id, detail, sysError);
}

static void Started(void *)
{
    if (MainWindow)
        PostMessageA(MainWindow, WM_COMMAND, kFlashCommand, 0);
}

// `text` and more joined into a new string (free it), or NULL.
static char *Join(const char *a, const char *b, const char *c, const char *d, const char *e)
{
    const char *parts[] = {a, b, c, d, e};
    size_t n = 1;
    for (const char *p : parts)
        n += p ? strlen(p) : 0;
    char *whole = (char *)malloc(n);
    if (!whole)
        return NULL;
    whole[0] = 0;
    for (const char *p : parts)
        if (p)
            strcat(whole, p);
    return whole;
}

void DescribeReason(int sysError, char *out, size_t size)
{
    out[0] = 0;
    if (sysError)
        DescribeSystemError(sysError, out, size);
}

void WrapForBox(const char *text, char *out, size_t size)
{
    enum { kLongestRun = 60 };
    size_t n = 0;
    int run = 0;
    for (const char *p = text; *p && n + 2 < size; p++) {
        unsigned char c = (unsigned char)*p;
        // A break only where a character starts, never inside one.
        if (run >= kLongestRun && (c & 0xC0) != 0x80) {
            out[n++] = '\n';
            run = 0;
        }
        out[n++] = *p;
        run = (c == ' ' || c == '\\' || c == '\n') ? 0 : run + 1;
    }
    out[n] = 0;
}

void ShowMessageBox(MessageKind kind, int id, const char *detail, const char *page, int sysError)
{
    bool error = kind == kMessageError;
    unsigned style = MB_OK | (error ? MB_ICONERROR : MB_ICONWARNING);
    char reason[kReasonSize];
    DescribeReason(sysError, reason, sizeof reason);
    // A box does not break a word: a long name gets breaks of its own.
    char *shown = page ? (char *)malloc(2 * strlen(page) + 2) : NULL;
    if (shown)
        WrapForBox(page, shown, 2 * strlen(page) + 2);
    // The message's own text first, as the program has always shown it;
    // then which page, and why.
    char *whole = Join(MessageText(kind, id), detail, page ? "\n\n" : NULL, shown ? shown : page,
                       reason[0] ? (page ? "\n" : "\n\n") : NULL);
    free(shown);
    char *all = whole && reason[0] ? Join(whole, reason, NULL, NULL, NULL) : NULL;
    MessageBoxA(MainWindow, all ? all : whole ? whole : MessageText(kind, id), kCaption, style);
    free(all);
    free(whole);
}

void RunPageQuietly(const char *path, const DisposalTarget *target, bool sayMissingFolder,
                    uint32_t options, PageRun *out)
{
    out->messages.count = 0;
    RunCallbacks callbacks = {&out->messages, Collect, Started, NULL};
    PageJob job = {path, NULL, NULL, SwitchesFromWord(options), target, &callbacks,
                   sayMissingFolder, false, (options & kOptPreserveTime) != 0, NULL, NULL};
    CleanPageInPlace(&job, &out->result);
    const PageStop &stop = out->result.stop;
    if (stop.id >= 0)
        Keep(&out->messages, stop.kind, stop.id, stop.detail, stop.sysError);
}

void FreePageRun(PageRun *run)
{
    for (int i = 0; i < run->messages.count; i++)
        free(run->messages.list[i].detail);
    run->messages.count = 0;
}
