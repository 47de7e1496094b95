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
// it. Not entered: folder links (junctions and symbolic links) and folders
// already walked, the folder that originals are moved into, and the Recycle
// Bin's folders.
void ListFolderPages(const char *folder, PathList *pages);

// The pages of `items` in order: each file as it is, the pages below each
// folder when the user answers Yes to "Clean the N pages in FOLDER and the
// folders below it?" (a folder without pages is said so).
void CollectPages(const PathList *items, PathList *pages);

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
struct PageRun;
struct Batch {
    PathList pages;
    PageRun *runs;              // one per page; runs[0..next) are filled
    DisposalTarget target;      // opened once for the run
    uint32_t options;           // the options of the moment the run began
    int next;                   // the index of the page cleaned next
    size_t at;                  // where its path starts in pages.text
    volatile long stop;         // set: no page is begun after the one in hand
};

// Takes over `pages` (left empty) with `options`; false, and nothing to
// end, when there is no page or memory ran out (said in a box).
bool BeginBatch(PathList *pages, uint32_t options, Batch *batch);

// Cleans the next page; false when none is left or `stop` is set.
bool CleanNextPage(Batch *batch);

// Appends `more` to the pages still to clean, on the thread that cleans
// them, between two pages (a run without a window takes the pages of runs
// started after it so); false when there were none or memory ran out.
bool AddBatchPages(Batch *batch, const PathList *more);

// Says what the run came to, and frees it. The result line shows one page's
// line, or the counts of several pages with the failed pages' names (when
// there is a window). One page's messages come as they always did, a box
// each; those of several pages in one report dialog owned by `owner`, each
// warning once. always: the report comes even when there is nothing to
// list (there is no result line to read, or the window is closing); a
// page cleaned alone is then confirmed by its line.
BatchOutcome EndBatch(Batch *batch, HWND owner, bool always);

// A whole run on this thread: BeginBatch, every page, EndBatch.
BatchOutcome CleanPages(PathList *pages, HWND owner, bool always);
