// A page run from the window or the command line, with what it said kept
// for after the run (see run_win32.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "app/dispose.h"
#include "app/messages.h"
#include "app/options.h"
#include "app/result.h"
#include "platform/path_win32.h"

// The window's copy of the user's settings: loaded at the start, edited by
// the option pages, saved by "Save", and given to every run.
extern uint32_t CleanOptions;
extern char TargetFolder[kTargetFolderSize];

// The path the window or the command line is taking in (a drop, the Open
// dialog, the command line), with one more zero after its own.
enum { kCurrentFileSize = kAnsiPathSize + 2 };
extern char CurrentFile[kCurrentFileSize];

// A message box captioned "Webtrim": the message's text and detail as its
// first lines (the texts the program has always shown), then, when given,
// the page's name and the system's reason, with the message's icon.
void ShowMessageBox(MessageKind kind, int id, const char *detail, const char *page = NULL,
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

struct PageRun {
    PageResult result;
    PageMessages messages;
};

// Cleans the page at `path` in place under `options` into the target given
// (opened once for all the pages of a drop), keeping its messages in
// out->messages instead of showing them. sayMissingFolder: the run gives the
// warning that the target folder is missing. Shows nothing and touches no
// window but by posting: it may run on a worker thread.
void RunPageQuietly(const char *path, const DisposalTarget *target, bool sayMissingFolder,
                    uint32_t options, PageRun *out);
void FreePageRun(PageRun *run);

// `text` with a line break before any 61st character of a run without a
// blank or backslash (a message box breaks no word), into `out`.
void WrapForBox(const char *text, char *out, size_t size);

// The system's words for an error code, or "" for 0.
void DescribeReason(int sysError, char *out, size_t size);
