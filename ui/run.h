// A page run from the window or the command line, with what it said kept
// for after the run (see run_win32.cpp).
#pragma once
#include <stddef.h>
#include "app/dispose.h"
#include "app/messages.h"
#include "app/result.h"

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

// Cleans the page at `path` in place under the window's settings into the
// target given (opened once for all the pages of a drop), keeping its
// messages in out->messages instead of showing them. sayMissingFolder: the
// run gives the warning that the target folder is missing.
void RunPageQuietly(const char *path, const DisposalTarget *target, bool sayMissingFolder,
                    PageRun *out);
void FreePageRun(PageRun *run);

// `text` with a line break before any 61st character of a run without a
// blank or backslash (a message box breaks no word), into `out`.
void WrapForBox(const char *text, char *out, size_t size);

// The system's words for an error code, or "" for 0.
void DescribeReason(int sysError, char *out, size_t size);
