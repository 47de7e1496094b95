// Several pages at once: the list of paths, the folder walk, the question
// before a folder's pages are cleaned, and the loop over the pages.
//
// The walk reads folders in UTF-16 and gives the pages' paths in the ANSI
// code page. A name that code page cannot write (only on older Windows,
// without UTF-8) is kept in the "A" calls' own lossy form, so that its run
// says it cannot be opened, as a drop of it always did.
#include "ui/batch.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/options.h"
#include "app/dispose.h"
#include "app/run.h"
#include "ui/run.h"
#include "platform/path_win32.h"
#include "platform/trash.h"
#include "ui/mainwnd.h"

static const char kCaption[] = "Webtrim";

bool AddPath(PathList *list, const char *path)
{
    size_t n = strlen(path) + 1;
    if (list->size + n > list->capacity) {
        size_t capacity = list->capacity ? 2 * list->capacity : 4096;
        while (capacity < list->size + n)
            capacity *= 2;
        char *grown = (char *)realloc(list->text, capacity);
        if (!grown)
            return false;
        list->text = grown;
        list->capacity = capacity;
    }
    memcpy(list->text + list->size, path, n);
    list->size += n;
    list->count++;
    return true;
}

void FreePathList(PathList *list)
{
    free(list->text);
    memset(list, 0, sizeof *list);
}

const char *FirstPath(const PathList *list)
{
    return list->count ? list->text : NULL;
}

const char *NextPath(const PathList *list, const char *path)
{
    const char *next = path + strlen(path) + 1;
    return next < list->text + list->size ? next : NULL;
}

// What identifies a folder: its volume and file index.
struct FolderKey {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// False when the folder cannot be opened.
static bool GetFolderKey(const char *path, FolderKey *key)
{
    wchar_t wide[MAX_PATH + 1];
    if (!AnsiToWide(path, wide, MAX_PATH + 1))
        return false;
    HANDLE h = CreateFileW(wide, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (known) {
        key->volume = info.dwVolumeSerialNumber;
        key->indexHigh = info.nFileIndexHigh;
        key->indexLow = info.nFileIndexLow;
    }
    return known;
}

// `folder` (ending in a backslash) and `name` as one path in the ANSI code
// page; false when it is too long.
static bool JoinPath(const char *folder, const wchar_t *name, char *out, size_t size)
{
    size_t n = strlen(folder);
    if (n >= size)
        return false;
    memcpy(out, folder, n);
    if (WideToAnsi(name, out + n, size - n))
        return true;
    return WideCharToMultiByte(CP_ACP, 0, name, -1, out + n, (int)(size - n), NULL, NULL) > 0;
}

static int ByName(const void *a, const void *b)
{
    return lstrcmpiA(*(const char *const *)a, *(const char *const *)b);
}

// The paths of `list` in name order, as an array the caller frees; null
// when it is empty or memory ran out.
static const char **Sorted(const PathList *list)
{
    const char **order = list->count ? (const char **)malloc(list->count * sizeof *order) : NULL;
    if (!order)
        return NULL;
    int i = 0;
    for (const char *p = FirstPath(list); p; p = NextPath(list, p))
        order[i++] = p;
    qsort(order, list->count, sizeof *order, ByName);
    return order;
}

static bool Seen(const FolderKey *keys, int count, const FolderKey &key)
{
    for (int i = 0; i < count; i++) {
        if (keys[i].volume == key.volume && keys[i].indexHigh == key.indexHigh &&
            keys[i].indexLow == key.indexLow)
            return true;
    }
    return false;
}

// One folder: its pages go into `pages`, its subfolders into `below`.
static void ReadFolder(const char *folder, PathList *pages, PathList *below)
{
    char here[kAnsiPathSize + 2], path[kAnsiPathSize + 1];
    wchar_t pattern[MAX_PATH + 2];
    size_t n = strlen(folder);
    if (n + 2 > sizeof here)
        return;
    memcpy(here, folder, n + 1);
    if (n == 0 || here[n - 1] != '\\')
        strcpy(here + n, "\\");
    if (!AnsiToWide(here, pattern, MAX_PATH) || lstrlenW(pattern) + 1 >= MAX_PATH)
        return;
    lstrcatW(pattern, L"*");
    PathList files = {}, folders = {};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const wchar_t *name = found.cFileName;
        DWORD attributes = found.dwFileAttributes;
        if (!lstrcmpW(name, L".") || !lstrcmpW(name, L"..") || !JoinPath(here, name, path, sizeof path))
            continue;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            AddPath(&files, path);
        else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 !IsTrashFolder(FindFileName(path), NULL, NULL))     // the Recycle Bin, at any depth
            AddPath(&folders, path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    const char **order = Sorted(&files);
    for (int i = 0; order && i < files.count; i++) {
        if (IsPageName(order[i]))
            AddPath(pages, order[i]);
    }
    free(order);
    order = Sorted(&folders);
    for (int i = 0; order && i < folders.count; i++)
        AddPath(below, order[i]);
    free(order);
    FreePathList(&files);
    FreePathList(&folders);
}

void ListFolderPages(const char *folder, PathList *pages)
{
    // The folders still to read, first in line last, and the identities of
    // those read and of the originals' folder.
    PathList stack = {};
    FolderKey *skip = NULL, key;
    int skipped = 0, room = 0;
    if (!(CleanOptions & kOptRecycleBin) && TargetFolder[0] && GetFolderKey(TargetFolder, &key)) {
        skip = (FolderKey *)malloc(16 * sizeof *skip);
        room = skip ? 16 : 0;
        if (skip)
            skip[skipped++] = key;
    }
    AddPath(&stack, folder);
    while (stack.count > 0) {
        // The last path of the block is the top of the stack.
        const char *top = stack.text + stack.size - 1;
        while (top > stack.text && top[-1])
            top--;
        char here[kAnsiPathSize + 1];
        snprintf(here, sizeof here, "%s", top);
        stack.size = (size_t)(top - stack.text);
        stack.count--;

        if (!GetFolderKey(here, &key) || Seen(skip, skipped, key))
            continue;
        if (skipped == room) {
            int grown = room ? 2 * room : 16;
            FolderKey *more = (FolderKey *)realloc(skip, grown * sizeof *skip);
            if (!more)
                break;
            skip = more;
            room = grown;
        }
        skip[skipped++] = key;
        PathList below = {};
        ReadFolder(here, pages, &below);
        // Pushed in reverse, so that the first subfolder is read next.
        const char **order = below.count ? (const char **)malloc(below.count * sizeof *order) : NULL;
        int k = 0;
        for (const char *p = FirstPath(&below); p && order; p = NextPath(&below, p))
            order[k++] = p;
        for (int i = k; i > 0; i--)
            AddPath(&stack, order[i - 1]);
        free(order);
        FreePathList(&below);
    }
    free(skip);
    FreePathList(&stack);
}

static bool IsFolder(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Asks before the pages below a dropped or sent folder are cleaned.
static bool AskFolder(const char *folder, int count)
{
    char text[kAnsiPathSize + 128];
    if (count == 0) {
        snprintf(text, sizeof text, "There are no pages to clean in %s and the folders below it.",
                 folder);
        MessageBoxA(MainWindow, text, kCaption, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    snprintf(text, sizeof text, "Clean the %d pages in %s and the folders below it?", count, folder);
    return MessageBoxA(MainWindow, text, kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CollectPages(const PathList *items, PathList *pages)
{
    for (const char *item = FirstPath(items); item; item = NextPath(items, item)) {
        if (!IsFolder(item)) {
            AddPath(pages, item);
            continue;
        }
        PathList below = {};
        ListFolderPages(item, &below);
        if (AskFolder(item, below.count)) {
            for (const char *p = FirstPath(&below); p; p = NextPath(&below, p))
                AddPath(pages, p);
        }
        FreePathList(&below);
    }
}

// `text` in the ANSI code page appended to `line` in UTF-8.
static void AppendAnsi(char *line, size_t size, const char *text)
{
    wchar_t wide[kAnsiPathSize + 1];
    size_t n = strlen(line);
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kAnsiPathSize + 1) <= 0 ||
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, line + n, (int)(size - n), NULL, NULL) <= 0)
        line[n] = 0;
}

// A size as the result line gives it.
static void AppendSize(char *line, size_t size, int64_t bytes)
{
    enum { kKilo = 1024 };
    size_t n = strlen(line);
    if (bytes < kKilo)
        snprintf(line + n, size - n, "%d bytes", (int)bytes);
    else
        snprintf(line + n, size - n, "%d KB", (int)((bytes + kKilo / 2) / kKilo));
}

static void Append(char *line, size_t size, const char *text)
{
    size_t n = strlen(line);
    snprintf(line + n, size - n, "%s", text);
}

// The name of a page's path, in UTF-8.
static void AppendName(char *line, size_t size, const char *path)
{
    const char *name = strrchr(path, '\\');
    AppendAnsi(line, size, name ? name + 1 : path);
}

// The first line of what stopped a page ("Cannot open this file").
static void AppendStop(char *line, size_t size, const PageResult *r)
{
    const char *text = r->stop.id >= 0 ? MessageText(r->stop.kind, r->stop.id) : "not cleaned";
    const char *end = strchr(text, '\n');
    size_t n = strlen(line), k = end ? (size_t)(end - text) : strlen(text);
    if (k > 0 && text[k - 1] == '.')
        k--;
    snprintf(line + n, size - n, "%.*s", (int)k, text);
}

// The line for one page, in UTF-8, from its record: "page.htm: 120 KB ->
// 40 KB; the original is in the Recycle Bin" (an arrow, U+2192, between
// the sizes), "page.htm: already clean", or what stopped it.
static void OnePageLine(const char *path, const PageResult *r, char *line, size_t size)
{
    line[0] = 0;
    AppendName(line, size, path);
    Append(line, size, ": ");
    if (r->outcome == kPageAlreadyClean) {
        Append(line, size, "already clean");
        return;
    }
    if (r->outcome != kPageCleaned) {
        AppendStop(line, size, r);
        return;
    }
    AppendSize(line, size, r->bytesBefore);
    Append(line, size, " \xe2\x86\x92 ");
    AppendSize(line, size, r->bytesAfter);
    if (r->original == kOriginalInFolder) {
        Append(line, size, "; the original was moved to ");
        AppendAnsi(line, size, r->originalPath);
    } else {
        Append(line, size, "; the original is in the Recycle Bin");
    }
}

// One message box for the pages of a drop that were not cleaned, each
// with its message's first line and the system's reason, and the warnings
// of them all, each once.
static void ShowFailures(const PathList *pages, PageRun *runs, const BatchOutcome &outcome)
{
    size_t size = 1024;
    for (int i = 0; i < pages->count; i++)
        size += (3 * kAnsiPathSize + 512) * (size_t)runs[i].messages.count;
    char *text = (char *)malloc(size);
    if (!text)
        return;
    text[0] = 0;
    unsigned warned = 0;
    bool any = false;
    if (outcome.failed) {
        snprintf(text, size, outcome.failed == 1 ? "1 of %d pages was not cleaned:\n"
                                                 : "%d of %d pages were not cleaned:\n",
                 outcome.failed == 1 ? pages->count : outcome.failed, pages->count);
        any = true;
    }
    int i = 0;
    for (const char *page = FirstPath(pages); page; page = NextPath(pages, page), i++) {
        const PageRun &run = runs[i];
        for (int m = 0; m < run.messages.count; m++) {
            const PageMessage &msg = run.messages.list[m];
            if (msg.kind == kMessageWarning && msg.id != kWarnNotPermissible) {
                if (warned & (1u << msg.id))
                    continue;
                warned |= 1u << msg.id;
            }
            size_t n = strlen(text);
            char reason[512], shown[2 * kAnsiPathSize + 2];
            DescribeReason(msg.sysError, reason, sizeof reason);
            WrapForBox(page, shown, sizeof shown);
            snprintf(text + n, size - n, "\n%s\n%s%s%s%s\n", shown, MessageText(msg.kind, msg.id),
                     msg.detail ? msg.detail : "", reason[0] ? "\n" : "", reason);
            any = true;
        }
    }
    if (any)
        MessageBoxA(MainWindow, text, "Webtrim",
                    MB_OK | (outcome.failed ? MB_ICONERROR : MB_ICONWARNING));
    free(text);
}

BatchOutcome CleanPages(const PathList *pages)
{
    BatchOutcome outcome = {0, 0};
    if (pages->count == 0)
        return outcome;
    // Large records: on the heap, one for each page of the drop.
    PageRun *runs = (PageRun *)calloc((size_t)pages->count, sizeof *runs);
    if (!runs) {
        ShowMessageBox(kMessageError, kErrNoMemory, NULL);
        outcome.failed = pages->count;
        return outcome;
    }
    // Where the originals go is decided once for the drop: a missing
    // folder is said once.
    DisposalTarget target;
    OpenDisposalTarget((CleanOptions & kOptRecycleBin) != 0, TargetFolder, &target);
    int alreadyClean = 0, i = 0;
    for (const char *page = FirstPath(pages); page; page = NextPath(pages, page), i++) {
        RunPageQuietly(page, &target, true, &runs[i]);
        PageOutcome o = runs[i].result.outcome;
        if (o == kPageCleaned || o == kPageAlreadyClean)
            outcome.cleaned++;
        else
            outcome.failed++;
        alreadyClean += o == kPageAlreadyClean;
    }
    CloseDisposalTarget(&target);

    char line[2 * kAnsiPathSize + 256];
    if (pages->count == 1) {
        // One page: its messages as they always were, one box each, with
        // the page's name and the reason.
        const PageRun &run = runs[0];
        for (int m = 0; m < run.messages.count; m++) {
            const PageMessage &msg = run.messages.list[m];
            ShowMessageBox(msg.kind, msg.id, msg.detail, FirstPath(pages), msg.sysError);
        }
        OnePageLine(FirstPath(pages), &run.result, line, sizeof line);
    } else {
        snprintf(line, sizeof line, "%d pages cleaned", outcome.cleaned - alreadyClean);
        if (alreadyClean)
            Append(line, sizeof line, alreadyClean == 1 ? ", 1 already clean" : "");
        if (alreadyClean > 1) {
            size_t n = strlen(line);
            snprintf(line + n, sizeof line - n, ", %d already clean", alreadyClean);
        }
        if (outcome.failed) {
            size_t n = strlen(line);
            snprintf(line + n, sizeof line - n, ", %d failed: ", outcome.failed);
            bool first = true;
            i = 0;
            for (const char *page = FirstPath(pages); page; page = NextPath(pages, page), i++) {
                PageOutcome o = runs[i].result.outcome;
                if (o == kPageCleaned || o == kPageAlreadyClean)
                    continue;
                if (!first)
                    Append(line, sizeof line, ", ");
                AppendName(line, sizeof line, page);
                first = false;
            }
        }
        ShowFailures(pages, runs, outcome);
    }
    ShowResultLine(line);
    for (i = 0; i < pages->count; i++)
        FreePageRun(&runs[i]);
    free(runs);
    return outcome;
}
