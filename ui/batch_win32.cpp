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
#include "ui/report.h"

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

void ListFolderPages(const char *folder, const Settings *settings, PathList *pages)
{
    // A trash named itself is not walked, as one found below is not.
    if (IsTrashFolder(FindFileName(folder), NULL, NULL))
        return;
    // The folders still to read, first in line last, and the identities of
    // those read and of the originals' folder.
    PathList stack = {};
    FolderKey *skip = NULL, key;
    int skipped = 0, room = 0;
    const char *target = settings->targetFolder;
    if (!(settings->word & kOptRecycleBin) && target[0] && GetFolderKey(target, &key)) {
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
static bool AskFolder(HWND owner, const char *folder, int count)
{
    char text[kAnsiPathSize + 128];
    if (count == 0) {
        snprintf(text, sizeof text, "There are no pages to clean in %s and the folders below it.",
                 folder);
        MessageBoxA(owner, text, kCaption, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    snprintf(text, sizeof text, "Clean the %d %s in %s and the folders below it?", count,
             count == 1 ? "page" : "pages", folder);
    return MessageBoxA(owner, text, kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CollectPages(const PathList *items, const Settings *settings, HWND owner, PathList *pages)
{
    for (const char *item = FirstPath(items); item; item = NextPath(items, item)) {
        if (!IsFolder(item)) {
            AddPath(pages, item);
            continue;
        }
        PathList below = {};
        ListFolderPages(item, settings, &below);
        if (AskFolder(owner, item, below.count)) {
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

// A size as the result line gives it: as Explorer's Size column does.
static void AppendSize(char *line, size_t size, int64_t bytes)
{
    size_t n = strlen(line);
    FormatSize(bytes, kSizeStyleHere, line + n, size - n);
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
// 40 KB; companion files 3 (12 KB); the original is in the Recycle Bin" (an arrow, U+2192, between
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
    Append(line, size, kSizeArrow);
    AppendSize(line, size, r->bytesAfter);
    // The companion folder's files that went with it: "; companion files 41 (2,301 KB)".
    if (r->companion.outcome == kCompanionTrimmed && r->companion.files > 0) {
        char count[kNumberTextMax];
        Append(line, size, "; companion files ");
        Append(line, size, FormatNumber(r->companion.files, count));
        Append(line, size, " (");
        AppendSize(line, size, r->companion.bytes);
        Append(line, size, ")");
    }
    if (r->original == kOriginalInFolder) {
        Append(line, size, "; the original was moved to ");
        AppendAnsi(line, size, r->originalPath);
    } else {
        Append(line, size, "; the original is in the Recycle Bin");
    }
}

// "1 page" or "N pages".
static void AppendCount(char *line, size_t size, int n, const char *one, const char *many)
{
    size_t at = strlen(line);
    snprintf(line + at, size - at, "%d %s", n, n == 1 ? one : many);
}

// The counts of a run of several pages: "5 pages cleaned, 1 already clean,
// 2 failed"; with `names`, the failed pages' names after a colon; and, for a
// run that was stopped, how many pages it left as they were.
static void CountsLine(const Batch *b, bool names, char *line, size_t size)
{
    int cleaned = 0, already = 0, failed = 0;
    for (int i = 0; i < b->next; i++) {
        PageOutcome o = b->runs[i].result.outcome;
        cleaned += o == kPageCleaned;
        already += o == kPageAlreadyClean;
        failed += o != kPageCleaned && o != kPageAlreadyClean;
    }
    line[0] = 0;
    AppendCount(line, size, cleaned, "page cleaned", "pages cleaned");
    if (already) {
        Append(line, size, ", ");
        AppendCount(line, size, already, "already clean", "already clean");
    }
    if (failed) {
        Append(line, size, ", ");
        AppendCount(line, size, failed, "failed", "failed");
    }
    const char *page = FirstPath(&b->pages);
    for (int i = 0, first = 1; names && failed && i < b->next; i++, page = NextPath(&b->pages, page)) {
        PageOutcome o = b->runs[i].result.outcome;
        if (o == kPageCleaned || o == kPageAlreadyClean)
            continue;
        Append(line, size, first ? ": " : ", ");
        AppendName(line, size, page);
        first = 0;
    }
    int left = b->pages.count - b->next;
    if (left) {
        Append(line, size, "; stopped, ");
        AppendCount(line, size, left, "page left as it was", "pages left as they were");
    }
}

// The rows of the report: each message of each page that was run, a
// warning that many pages gave only once; the reasons are in `texts`, which
// the caller frees with the array. Null when there is nothing to list.
static ReportEntry *ReportEntries(const Batch *b, int *count, char **texts)
{
    enum { kReasonRoom = 3 * kAnsiPathSize + 512 };
    *count = 0;
    *texts = NULL;
    int most = 0;
    for (int i = 0; i < b->next; i++)
        most += b->runs[i].messages.count;
    if (most == 0)
        return NULL;
    ReportEntry *rows = (ReportEntry *)malloc(most * sizeof *rows);
    char *reasons = (char *)malloc((size_t)most * kReasonRoom);
    if (!rows || !reasons) {
        free(rows);
        free(reasons);
        return NULL;
    }
    unsigned warned = 0;
    const char *page = FirstPath(&b->pages);
    for (int i = 0; i < b->next; i++, page = NextPath(&b->pages, page)) {
        const QuietRun &run = b->runs[i];
        for (int m = 0; m < run.messages.count; m++) {
            const PageMessage &msg = run.messages.list[m];
            if (msg.kind == kMessageWarning && msg.id != kWarnNotPermissible) {
                if (warned & (1u << msg.id))
                    continue;
                warned |= 1u << msg.id;
            }
            char *reason = reasons + (size_t)*count * kReasonRoom;
            FormatMessageLine(MessageText(msg.kind, msg.id), msg.detail, msg.sysError, reason, kReasonRoom);
            rows[*count].page = page;
            rows[*count].reason = reason;
            ++*count;
        }
    }
    *texts = reasons;
    return rows;
}

bool BeginBatch(PathList *pages, const Settings *settings, HWND window, Batch *b)
{
    memset(b, 0, sizeof *b);
    if (pages->count == 0)
        return false;
    // Large records: on the heap, one for each page of the run.
    b->runs = (QuietRun *)calloc((size_t)pages->count, sizeof *b->runs);
    if (!b->runs) {
        ShowMessageBox(window, kMessageError, kErrNoMemory, NULL);
        return false;
    }
    b->pages = *pages;
    memset(pages, 0, sizeof *pages);
    b->settings = *settings;
    b->window = window;
    b->at = 0;
    // Where the originals go is decided once for the run: a missing
    // folder is said once.
    OpenDisposalTarget((settings->word & kOptRecycleBin) != 0, settings->targetFolder, &b->target);
    return true;
}

bool CleanNextPage(Batch *b)
{
    if (b->next == b->pages.count || b->stop)
        return false;
    const char *page = b->pages.text + b->at;
    RunPageQuietly(page, &b->target, true, b->settings.word, b->window, &b->runs[b->next]);
    b->at += strlen(page) + 1;
    b->next++;
    return true;
}

bool AddBatchPages(Batch *b, const PathList *more)
{
    if (more->count == 0)
        return false;
    QuietRun *grown = (QuietRun *)realloc(b->runs, (size_t)(b->pages.count + more->count) * sizeof *grown);
    if (!grown)
        return false;
    memset(grown + b->pages.count, 0, (size_t)more->count * sizeof *grown);
    b->runs = grown;
    int before = b->pages.count;
    for (const char *p = FirstPath(more); p && AddPath(&b->pages, p); p = NextPath(more, p)) {
    }
    return b->pages.count > before;
}

// A run of one page, cleaned: its line is its own.
static bool OnePageRun(const Batch *b)
{
    return b->pages.count == 1 && b->next == 1;
}

bool BatchResultLine(const Batch *b, char *line, size_t size)
{
    if (OnePageRun(b))
        OnePageLine(FirstPath(&b->pages), &b->runs[0].result, line, size);
    else if (b->pages.count > 0)
        CountsLine(b, true, line, size);
    else
        return false;
    return true;
}

BatchOutcome EndBatch(Batch *b, HWND owner, bool always)
{
    BatchOutcome outcome = {0, 0, b->pages.count - b->next};
    CloseDisposalTarget(&b->target);
    for (int i = 0; i < b->next; i++) {
        PageOutcome o = b->runs[i].result.outcome;
        (o == kPageCleaned || o == kPageAlreadyClean ? outcome.cleaned : outcome.failed)++;
    }
    if (OnePageRun(b)) {
        // One page: its messages as they always were, one box each, with
        // the page's name and the reason.
        const QuietRun &run = b->runs[0];
        for (int m = 0; m < run.messages.count; m++) {
            const PageMessage &msg = run.messages.list[m];
            ShowMessageBox(owner, msg.kind, msg.id, msg.detail, FirstPath(&b->pages), msg.sysError);
        }
        if (always && run.messages.count == 0) {
            char line[kResultLineSize];
            OnePageLine(FirstPath(&b->pages), &run.result, line, sizeof line);
            ShowReport(owner, line, NULL, 0, MB_ICONINFORMATION);
        }
    } else if (b->pages.count > 0) {
        int count = 0;
        char *texts = NULL;
        ReportEntry *rows = ReportEntries(b, &count, &texts);
        if (count || always) {
            char sentence[512];
            CountsLine(b, false, sentence, sizeof sentence - 1);
            Append(sentence, sizeof sentence, ".");
            unsigned icon = outcome.failed ? MB_ICONERROR : count ? MB_ICONWARNING : MB_ICONINFORMATION;
            ShowReport(owner, sentence, rows, count, icon);
        }
        free(rows);
        free(texts);
    }
    for (int i = 0; i < b->pages.count && b->runs; i++)
        FreeQuietRun(&b->runs[i]);
    free(b->runs);
    FreePathList(&b->pages);
    memset(b, 0, sizeof *b);
    return outcome;
}
