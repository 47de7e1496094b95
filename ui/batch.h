// Several pages at once: the files of one drop, of "Send To" or of the
// command line, cleaned in order, each folder among them replaced by the
// pages below it once the user agreed.
//
// Paths are text in the ANSI code page (UTF-8 where the manifest's code page
// is in effect), as the run takes them.
#pragma once
#include <stddef.h>

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

// What cleaning a list of pages came to.
struct BatchOutcome {
    int cleaned;
    int failed;
};

// Cleans the pages in order with the options of the moment and shows the
// result in the main window's result line (when there is a window). One
// page's messages come as they always did, a box each; those of several
// pages in one box at the end, each warning once.
BatchOutcome CleanPages(const PathList *pages);
