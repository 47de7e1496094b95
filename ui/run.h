// A page run from the window or the command line, with what it said kept
// for after the run (see run_win32.cpp).
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "app/dispose.h"
#include "app/messages.h"
#include "app/options.h"
#include "app/result.h"
#include "platform/path_win32.h"

// A path the window or the command line takes in (a drop, the Open
// dialog, the command line): room for it and for one more zero after its
// own.
enum { kTakenPathSize = kAnsiPathSize + 2 };

// A message box captioned "Webtrim", owned by `owner` (null: none): the
// message's text and detail as its first lines (the texts the program has
// always shown), then, when given, the page's name and the system's reason,
// with the message's icon.
void ShowMessageBox(HWND owner, MessageKind kind, int id, const char *detail, const char *page = NULL,
                    int sysError = 0);

enum { kMaxPageMessages = 8 };

struct PageMessage {
    MessageKind kind;
    int id;
    int sysError;
    char *detail;               // owned; NULL when there is none
};

struct PageMessages {
    PageMessage list[kMaxPageMessages];
    int count;
};

// One page of a run from the window or the command line: its record and
// the messages it gave, kept to be shown once the run is over.
struct QuietRun {
    PageResult result;
    PageMessages messages;
};

// Cleans the page at `path` in place under `options` into the target given
// (opened once for all the pages of a drop), keeping its messages in
// out->messages instead of showing them. sayMissingFolder: the run gives the
// warning that the target folder is missing. `window` (null: none) is told
// by a posted IDC_FLASH that the page has begun. Shows nothing and touches
// no window but by posting: it may run on a worker thread.
void RunPageQuietly(const char *path, const DisposalTarget *target, bool sayMissingFolder,
                    uint32_t options, HWND window, QuietRun *out);
void FreeQuietRun(QuietRun *run);

// `text` with a line break before any 61st character of a run without a
// blank or backslash (a message box breaks no word), into `out`.
void WrapForBox(const char *text, char *out, size_t size);

// The system's words for an error code, or "" for 0.
void DescribeReason(int sysError, char *out, size_t size);
