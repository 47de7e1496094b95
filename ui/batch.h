// Several pages at once: the files of one drop, of "Send To" or of the
// command line, cleaned in order, each folder among them replaced by the
// pages below it once the user agreed.
//
// Paths are text in the ANSI code page (UTF-8 where the manifest's code page
// is in effect), as the run takes them.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "app/dispose.h"
#include "app/options.h"
#include "platform/path_win32.h"

// A list of paths, one after another in one block, each ended by a zero.
// Zero-initialised it is empty; FreePathList gives its memory back.
struct PathList {
    char *text;
    size_t size;        // bytes used
    size_t capacity;
    int count;
};

// Appends a copy of `path`; false when memory ran out.
bool AddPath(PathList *list, const char *path);
void FreePathList(PathList *list);
// The first path, and the one after `path`; null at the end.
const char *FirstPath(const PathList *list);
const char *NextPath(const PathList *list, const char *path);

// Adds the pages below `folder` to `pages`: every file whose name is a
// page's, folder by folder in name order, each folder's own pages before
// those of its subfolders. The whole list is made before any page is
// cleaned, so that neither cleaned pages nor moved originals come back into
// it. Not entered, `folder` itself included: folder links (junctions and
// symbolic links) and folders already walked, the folder that originals are
// moved into under `settings`, and the Recycle Bin's folders (the walks'
// one trash rule, IsTrashFolder, by name).
void ListFolderPages(const char *folder, const Settings *settings, PathList *pages);

// The pages of `items` in order: each file as it is, the pages below each
// folder when the user answers Yes to "Clean the N pages in FOLDER and the
// folders below it?" (a folder without pages is said so), asked in boxes
// owned by `owner` (null: none).
void CollectPages(const PathList *items, const Settings *settings, HWND owner, PathList *pages);

// What cleaning a list of pages came to: pages cleaned (or already
// clean), pages not cleaned, pages not begun because the run was stopped.
struct BatchOutcome {
    int cleaned;
    int failed;
    int left;
};

// One run over a list of pages: begun and ended on the thread that shows
// things, its pages cleaned one at a time in order, on that thread or on a
// worker. Between BeginBatch and EndBatch only CleanNextPage writes to it,
// and AddBatchPages, and, from any thread, `stop`; unless AddBatchPages
// grows it, the list of pages does not change, so its paths may be read
// from any thread until EndBatch.
struct QuietRun;
struct Batch {
    PathList pages;
    QuietRun *runs;             // one per page; runs[0..next) are filled
    DisposalTarget target;      // opened once for the run
    Settings settings;          // the settings of the moment the run began
    HWND window;                // told as each page begins; null: none
    int next;                   // the index of the page cleaned next
    size_t at;                  // where its path starts in pages.text
    volatile long stop;         // set: no page is begun after the one in hand
};

// Takes over `pages` (left empty) under a copy of `settings`, the window
// (null: none) to flash as each page begins and to own a box; false, and
// nothing to end, when there is no page or memory ran out (said in a box).
bool BeginBatch(PathList *pages, const Settings *settings, HWND window, Batch *batch);

// Cleans the next page; false when none is left or `stop` is set.
bool CleanNextPage(Batch *batch);

// Appends `more` to the pages still to clean, on the thread that cleans
// them, between two pages (a run without a window takes the pages of runs
// started after it so); false when there were none or memory ran out.
bool AddBatchPages(Batch *batch, const PathList *more);

// The result line of a run whose pages are done, in UTF-8: one page's line
// ("page.htm: 120 KB -> 40 KB; the original is in the Recycle Bin" with an
// arrow, U+2192, between the sizes; "page.htm: already clean"; or what
// stopped it), or the counts of several pages with the failed pages' names. False, and no line, for a run without
// pages. The window shows it before EndBatch.
enum { kResultLineSize = 2 * kAnsiPathSize + 256 };
bool BatchResultLine(const Batch *batch, char *line, size_t size);

// Says what the run came to, and frees it. One page's messages come as they
// always did, a box each; those of several pages in one report dialog owned
// by `owner`, each warning once. always: the report comes even when there is
// nothing to list (there is no result line to read, or the window is
// closing); a page cleaned alone is then confirmed by its line.
BatchOutcome EndBatch(Batch *batch, HWND owner, bool always);
