// See companion.h.
//
// The plan has three steps: gather the reached paths (the page, the other
// pages of its folder, then the reached style sheets and markup files of
// the companion folder, breadth first); walk the companion folder, each
// subfolder held and entered without following a link; and dispose of each
// unreached entry there and then, by its identity as the walk saw it.
// Emptied subfolders go last, deepest first, and only when empty.
//
// Every path the plan holds is a key (PathKey, platform/folder.h): '/'
// between names and letter case folded where the file system folds it, so
// that a reference and a name the walk reads compare as the system does.
#include "app/companion.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <stdio.h>
#include "app/run.h"
#include "clean/refs.h"
#include "platform/compare.h"
#include "platform/file.h"
#include "platform/trash.h"

const char *const kCompanionSuffixes[] = {
    "_files",       // Chrome, Edge, Firefox, Internet Explorer
    ".files",
    "-files",
    "_archivos",    // Spanish
    "_arquivos",    // Portuguese
    "_fichiers",    // French
    "-Dateien",     // German
    "_bestanden",   // Dutch
    "_file",        // Italian
    "_filer",       // Danish
    "-filer",       // Danish, Norwegian
    "_tiedostot",   // Finnish
    "_pliki",       // Polish
    "_soubory",     // Czech
    "_elemei",      // Hungarian
    "_failid",      // Estonian
    "_datoteke",    // Croatian, Slovenian
    "_fitxers",     // Catalan
    "_dosyalar",    // Turkish
};
const int kCompanionSuffixCount = sizeof kCompanionSuffixes / sizeof kCompanionSuffixes[0];

bool FindCompanionFolder(const HeldFolder *folder, const char *pageName, char *name, size_t size)
{
    const char *dot = strrchr(pageName, '.');
    size_t stem = dot && dot != pageName ? (size_t)(dot - pageName) : strlen(pageName);
    for (int i = 0; i < kCompanionSuffixCount; i++) {
        size_t k = strlen(kCompanionSuffixes[i]);
        if (stem + k + 1 > size)
            continue;
        memcpy(name, pageName, stem);
        memcpy(name + stem, kCompanionSuffixes[i], k + 1);
        if (LookAtEntry(folder, name, 0) == kEntryFolder)
            return true;
    }
    if (size)
        name[0] = 0;
    return false;
}

static const char *const kKeptTexts[] = {
    nullptr,
    nullptr,
    "the page's BASE element points elsewhere",
    "a reference could not be resolved",
    "a page or the folder could not be read",
    "this system does not trim companion folders",
};
static const char *const kOutcomeNames[] = {
    "none", "trimmed", "base-elsewhere", "unresolved", "unreadable", "not-here",
};

const char *CompanionKeptText(int outcome)
{
    return outcome >= 0 && outcome <= kCompanionNotHere ? kKeptTexts[outcome] : nullptr;
}

const char *CompanionOutcomeName(int outcome)
{
    return outcome >= 0 && outcome <= kCompanionNotHere ? kOutcomeNames[outcome] : nullptr;
}

static void StartReport(CompanionReport *report)
{
    report->outcome = kCompanionNone;
    report->folder[0] = 0;
    report->files = 0;
    report->bytes = 0;
    report->kept = 0;
}

// ---- What a page reaches

// The key of the file `ref` names, read against the folder whose key is
// `base`. A path from the root of no drive or share is on the base's.
static RefTarget ResolveKey(const char *ref, size_t n, const char *base, char *out, size_t size)
{
    char path[kFolderPathSize];
    size_t root = PathKeyRoot(base);
    RefTarget t = ResolveReference(ref, n, base, path + root, sizeof path - root);
    if (t != kTargetFile)
        return t;
    memcpy(path, base, root);
    const char *from = root && PathKeyRoot(path + root) ? path + root : path;
    return PathKey(from, true, out, size) ? kTargetFile : kTargetUnknown;
}

// The key of a folder's path, as ResolveReference takes a base: no '/' at
// its end ("" for the root of POSIX systems).
static bool FolderKey(const char *folderPath, char *out, size_t size)
{
    if (!PathKey(folderPath, false, out, size))
        return false;
    size_t n = strlen(out);
    while (n > 0 && out[n - 1] == '/')
        out[--n] = 0;
    return true;
}

struct ReachReader {
    PageReach *reach;
    const char *base;           // the page's folder ("" for "/")
    size_t baseLength;
};

static bool AddReachPath(PageReach *reach, char kind, const char *path)
{
    if (reach->count == reach->capacity) {
        size_t n = reach->capacity ? 2 * reach->capacity : 32;
        char **paths = (char **)realloc(reach->paths, n * sizeof *paths);
        if (!paths)
            return false;
        reach->paths = paths;
        reach->capacity = n;
    }
    size_t k = strlen(path);
    char *copy = (char *)malloc(k + 2);
    if (!copy)
        return false;
    copy[0] = kind;
    memcpy(copy + 1, path, k + 1);
    reach->paths[reach->count++] = copy;
    return true;
}

static void OnPageReference(void *context, RefKind kind, const char *text, size_t n)
{
    ReachReader *rr = (ReachReader *)context;
    PageReach *reach = rr->reach;
    if (kind == kRefUnreadable) {
        if (reach->stop == kCompanionTrimmed)
            reach->stop = kCompanionUnresolved;
        return;
    }
    char path[kFolderPathSize];
    RefTarget t = ResolveKey(text, n, rr->base, path, sizeof path);
    if (kind == kRefBase) {
        // A BASE naming the page's own folder changes nothing.
        bool here = t == kTargetFile && (strcmp(rr->base, path) == 0 || (!rr->base[0] && strcmp(path, "/") == 0));
        if (!here && reach->stop == kCompanionTrimmed)
            reach->stop = kCompanionBaseElsewhere;
        return;
    }
    if (t == kTargetUnknown) {
        if (reach->stop == kCompanionTrimmed)
            reach->stop = kCompanionUnresolved;
        return;
    }
    // Only what lies in a subfolder of the page's folder can be a file of
    // its folder's companion folders; what lies elsewhere counts only where
    // it may be another folder's companion file.
    if (t != kTargetFile)
        return;
    bool below = strncmp(path, rr->base, rr->baseLength) == 0 && path[rr->baseLength] == '/' &&
                 strchr(path + rr->baseLength + 1, '/');
    if (!below && !IsFarPath(path, rr->base[0] ? rr->base : "/"))
        return;
    if (!AddReachPath(reach, kind == kRefStyleSheet ? 'c' : 'p', path))
        reach->stop = kCompanionUnreadable;
}

// Whether the folder name [name, name + n) ends in a companion suffix.
static bool IsCompanionName(const char *name, size_t n)
{
    for (int i = 0; i < kCompanionSuffixCount; i++) {
        size_t k = strlen(kCompanionSuffixes[i]);
        if (n > k && memcmp(name + n - k, kCompanionSuffixes[i], k) == 0)
            return true;
    }
    return false;
}

bool IsFarPath(const char *path, const char *folderPath)
{
    size_t folderLength = strcmp(folderPath, "/") == 0 ? 0 : strlen(folderPath);
    if (path[0] != '/')
        return false;
    // Each folder on the way: path[1, slash) is one name, its parent path[0, start).
    for (const char *start = path, *slash; (slash = strchr(start + 1, '/')) != nullptr; start = slash) {
        size_t parent = (size_t)(start - path);
        bool inFolder = parent == folderLength && strncmp(path, folderPath, folderLength) == 0;
        if (!inFolder && IsCompanionName(start + 1, (size_t)(slash - start - 1)))
            return true;
    }
    return false;
}

bool ReadPageReach(FileHandle page, const char *folderPath, PageReach *reach)
{
    memset(reach, 0, sizeof *reach);
    reach->stop = kCompanionTrimmed;
    ByteStream *in = (ByteStream *)malloc(sizeof *in);
    unsigned char head[kCharsetLook];
    long n = in ? PlatformReadAt(page, head, sizeof head, 0) : -1;
    if (n < 0) {
        free(in);
        reach->stop = kCompanionUnreadable;
        return false;
    }
    char *base = (char *)malloc(kFolderPathSize);
    if (!base || !FolderKey(folderPath, base, kFolderPathSize)) {
        free(in);
        free(base);
        reach->stop = kCompanionUnreadable;
        return false;
    }
    ReachReader rr = {reach, base, strlen(base)};
    StreamAttach(in, page);
    if (!ReadMarkupRefs(in, PageCharset(head, (size_t)n), OnPageReference, &rr))
        reach->stop = kCompanionUnreadable;
    free(in);
    free(base);
    return reach->stop != kCompanionUnreadable;
}

void FreePageReach(PageReach *reach)
{
    for (size_t i = 0; i < reach->count; i++)
        free(reach->paths[i]);
    free(reach->paths);
    memset(reach, 0, sizeof *reach);
}

// ---- The plan and the walk

enum { kMaxDepth = 64 };            // folders below the companion folder
enum { kMaxScanned = 100000 };      // reached files read for their references

// A list of strings, each malloc'd.
struct Strings {
    char **items;
    bool *flags;
    size_t count, capacity;
};

static bool AddString(Strings *list, const char *text, bool flag)
{
    if (list->count == list->capacity) {
        size_t n = list->capacity ? 2 * list->capacity : 64;
        char **items = (char **)realloc(list->items, n * sizeof *items);
        if (items)
            list->items = items;
        bool *flags = items ? (bool *)realloc(list->flags, n * sizeof *flags) : nullptr;
        if (flags)
            list->flags = flags;
        if (!items || !flags)
            return false;
        list->capacity = n;
    }
    char *copy = strdup(text);
    if (!copy)
        return false;
    list->items[list->count] = copy;
    list->flags[list->count++] = flag;
    return true;
}

static void FreeStrings(Strings *list)
{
    for (size_t i = 0; i < list->count; i++)
        free(list->items[i]);
    free(list->items);
    free(list->flags);
    memset(list, 0, sizeof *list);
}

// What reaches into the companion folder: the reached paths in the order
// found (also the queue of files to read), and a hash of them.
struct Reach {
    char root[kFolderPathSize + 1];     // the companion folder's path, then '/'
    size_t rootLength;
    Strings reached;                    // flag: read it as a style sheet
    size_t *slots;                      // index + 1 into `reached`, or 0
    size_t slotCount;                   // a power of 2, more than twice the paths
    int outcome;                        // kCompanionTrimmed while nothing stops the plan
    char base[kFolderPathSize];         // the folder the references resolve against
};

static size_t HashOf(const char *p)
{
    size_t h = 14695981039346656037ull & (size_t)-1;
    for (; *p; p++)
        h = (h ^ (unsigned char)*p) * (size_t)1099511628211ull;
    return h;
}

static bool IsReached(const Reach *r, const char *path)
{
    if (!r->slotCount)
        return false;
    for (size_t i = HashOf(path) & (r->slotCount - 1);; i = (i + 1) & (r->slotCount - 1)) {
        if (!r->slots[i])
            return false;
        if (strcmp(r->reached.items[r->slots[i] - 1], path) == 0)
            return true;
    }
}

static void PutSlot(Reach *r, size_t index)
{
    size_t i = HashOf(r->reached.items[index]) & (r->slotCount - 1);
    while (r->slots[i])
        i = (i + 1) & (r->slotCount - 1);
    r->slots[i] = index + 1;
}

// Adds a path: false when it was there, or memory ran out (the plan stops).
static bool AddReached(Reach *r, const char *path, bool css)
{
    if (IsReached(r, path))
        return false;
    if (2 * (r->reached.count + 1) >= r->slotCount) {
        size_t n = r->slotCount ? 2 * r->slotCount : 256;
        size_t *slots = (size_t *)calloc(n, sizeof *slots);
        if (!slots) {
            r->outcome = kCompanionUnreadable;
            return false;
        }
        free(r->slots);
        r->slots = slots;
        r->slotCount = n;
        for (size_t i = 0; i < r->reached.count; i++)
            PutSlot(r, i);
    }
    if (!AddString(&r->reached, path, css)) {
        r->outcome = kCompanionUnreadable;
        return false;
    }
    PutSlot(r, r->reached.count - 1);
    return true;
}

// A reference of a file of the companion folder: what it names is reached
// too. Its BASE changes nothing: the pages decide where their references
// point. But one that cannot be resolved (an entity name left, a name the
// system cannot spell) may name a file of the folder, so, as in a page, it
// keeps the whole folder.
static void OnReference(void *context, RefKind kind, const char *text, size_t n)
{
    Reach *r = (Reach *)context;
    if (kind == kRefUnreadable || kind == kRefBase)
        return;
    char path[kFolderPathSize];
    RefTarget t = ResolveKey(text, n, r->base, path, sizeof path);
    if (t == kTargetUnknown && r->outcome == kCompanionTrimmed)
        r->outcome = kCompanionUnresolved;
    if (t == kTargetFile && strncmp(path, r->root, r->rootLength) == 0 && path[r->rootLength])
        AddReached(r, path, kind == kRefStyleSheet);
}

// Reads the references of an open file, in the charset its head declares.
static bool ReadRefsOf(FileHandle file, bool css, Reach *r)
{
    ByteStream *in = (ByteStream *)malloc(sizeof *in);
    if (!in)
        return false;
    unsigned char head[kCharsetLook];
    long n = PlatformReadAt(file, head, sizeof head, 0);
    RefCharset charset = n > 0 ? PageCharset(head, (size_t)n) : kCharsetUtf8;
    StreamAttach(in, file);
    bool ok = n >= 0 && (css ? ReadCssRefs(in, charset, OnReference, r)
                             : ReadMarkupRefs(in, charset, OnReference, r));
    free(in);
    return ok;
}

static bool EndsWithIgnoreCase(const char *s, const char *suffix)
{
    size_t n = strlen(s), k = strlen(suffix);
    return n >= k && NamesEqualIgnoreCase(s + n - k, suffix);
}

// Opens the file at `path` (below r->root) through held folders, never
// through a link.
static bool OpenBelow(const Reach *r, const HeldFolder *companion, const char *path, FileHandle *file)
{
    char rest[kFolderPathSize];
    snprintf(rest, sizeof rest, "%s", path + r->rootLength);
    HeldFolder at = *companion;
    bool own = false, ok = true;
    char *name = rest;
    int depth = 0;
    for (char *slash; ok && (slash = strchr(name, '/')) != nullptr; name = slash + 1) {
        *slash = 0;
        HeldFolder next;
        ok = ++depth <= kMaxDepth && OpenSubfolder(&at, name, nullptr, &next);
        if (own)
            CloseHeldFolder(&at);
        if (ok) {
            at = next;
            own = true;
        }
    }
    PageIdentity id;
    ok = ok && OpenEntryForReading(&at, name, file, &id);
    if (own)
        CloseHeldFolder(&at);
    return ok;
}

static const char *const kMarkupEndings[] = {".svg", ".htm", ".html", ".xhtml", ".shtml", ".xml"};

// Reads the reached files that may name others, until none is left.
static void FollowReached(Reach *r, const HeldFolder *companion)
{
    int scanned = 0;
    for (size_t next = 0; next < r->reached.count && scanned < kMaxScanned; next++) {
        char path[kFolderPathSize];
        snprintf(path, sizeof path, "%s", r->reached.items[next]);
        bool css = r->reached.flags[next] || EndsWithIgnoreCase(path, ".css");
        bool markup = false;
        for (const char *ending : kMarkupEndings)
            markup = markup || (!css && EndsWithIgnoreCase(path, ending));
        FileHandle file;
        if ((!css && !markup) || !OpenBelow(r, companion, path, &file))
            continue;
        scanned++;
        *strrchr(path, '/') = 0;
        snprintf(r->base, sizeof r->base, "%s", path);
        ReadRefsOf(file, css, r);
        PlatformClose(file);
    }
}

static void AddName(void *context, const char *name)
{
    AddString((Strings *)context, name, false);
}

// Another page's reach, into the plan: its paths in the companion folder
// are reached. What it could not resolve, or its BASE, keeps its own
// companion folder whole, not this one: every path it did resolve counts.
static void ApplyReach(void *context, const PageReach *reach)
{
    Reach *r = (Reach *)context;
    for (size_t i = 0; i < reach->count && r->outcome == kCompanionTrimmed; i++) {
        const char *path = reach->paths[i] + 1;
        if (strncmp(path, r->root, r->rootLength) == 0 && path[r->rootLength])
            AddReached(r, path, reach->paths[i][0] == 'c');
    }
}

// A far path of a page of the call (another folder's): reached when it lies
// in this companion folder.
static void ApplyFarPath(void *context, char kind, const char *path)
{
    Reach *r = (Reach *)context;
    if (r->outcome == kCompanionTrimmed && strncmp(path, r->root, r->rootLength) == 0 && path[r->rootLength])
        AddReached(r, path, kind == 'c');
}

// A page with no companion folder of its own that the call knows to reach
// another folder's: what it reaches now it is cleaned, into the record.
static void TellCleanedFar(const HeldFolder *folder, const char *pageName, FileHandle cleaned, bool preview,
                           const CompanionNeighbours *neighbours)
{
    if (!neighbours || preview || !neighbours->namesFar ||
        !neighbours->namesFar(neighbours->context, folder, pageName))
        return;
    PageReach own;
    ReadPageReach(cleaned, folder->path, &own);
    neighbours->cleaned(neighbours->context, folder, pageName, &own);
}

// The other pages of the folder, as they stand.
static void ReadOtherPages(const HeldFolder *folder, const char *pageName, Reach *r)
{
    Strings names = {};
    if (!ReadFolderNames(folder, AddName, &names)) {
        r->outcome = kCompanionUnreadable;
        FreeStrings(&names);
        return;
    }
    for (size_t i = 0; i < names.count && r->outcome == kCompanionTrimmed; i++) {
        const char *name = names.items[i];
        if (strcmp(name, pageName) == 0 || !IsPageName(name) || IsArchiveName(name))
            continue;
        FileHandle file;
        PageIdentity id;
        if (LookAtEntry(folder, name, 0) != kEntryFile || !OpenEntryForReading(folder, name, &file, &id))
            continue;
        PageReach reach;
        ReadPageReach(file, folder->path, &reach);
        ApplyReach(r, &reach);
        FreePageReach(&reach);
        PlatformClose(file);
    }
    FreeStrings(&names);
}

// The walk and the disposal.
struct Trim {
    const Reach *reach;
    const DisposalTarget *target;
    bool preview;
    CompanionProc each;
    void *context;
    CompanionReport *report;
    const char *companionName;
    PageIdentity targetId;      // the target folder's, or zeros for the trash
};

// The folder in the target that takes the files of `sub` (a path below the
// companion folder, "" for itself), made where it is missing.
static bool OpenTargetFolder(const Trim *t, const char *sub, HeldFolder *out)
{
    char rest[kFolderPathSize];
    snprintf(rest, sizeof rest, "%s%s%s", t->companionName, sub[0] ? "/" : "", sub);
    HeldFolder at = t->target->folder;
    bool own = false, ok = true;
    char *name = rest;
    while (ok && name) {
        char *slash = strchr(name, '/');
        if (slash)
            *slash = 0;
        HeldFolder next;
        ok = MakeSubfolder(&at, name, &next);
        if (own)
            CloseHeldFolder(&at);
        if (ok) {
            at = next;
            own = true;
        }
        name = slash ? slash + 1 : nullptr;
    }
    if (ok)
        *out = at;
    return ok;
}

// One unreached entry of `folder` (at `sub` below the companion folder).
static void DisposeUnreached(const Trim *t, const HeldFolder *folder, const char *sub, const char *name,
                             const PageIdentity *id, HeldFolder *moveTo)
{
    CompanionReport *report = t->report;
    int64_t size = (int64_t)id->size;
    if (t->preview) {
        char path[kFolderPathSize + 256];
        if (t->each && EntryPath(folder, name, path, sizeof path))
            t->each(t->context, path, size);
        report->files++;
        report->bytes += size;
        return;
    }
    DisposalTarget into;
    into.toTrash = true;
    into.folderMissing = false;
    into.folder.open = false;
    into.folder.path[0] = 0;
    if (!t->target->toTrash) {
        if (!moveTo->open && !OpenTargetFolder(t, sub, moveTo))
            moveTo->open = false;
        if (moveTo->open) {
            into.toTrash = false;
            into.folder = *moveTo;
        }
    }
    DisposalOutcome out;
    DisposeOriginal(&into, folder, name, id, &out);
    if (out.kind == kDisposedToFolder || out.kind == kDisposedToTrash) {
        if (t->each)
            t->each(t->context, out.where, size);
        report->files++;
        report->bytes += size;
    } else {
        report->kept++;
    }
}

// Walks `folder` (at `sub` below the companion folder): its unreached
// entries go, its subfolders are walked and then removed if empty. True
// when the folder was walked whole and now seems empty.
static bool WalkAndTrim(const Trim *t, const HeldFolder *folder, const char *sub, int depth)
{
    Strings names = {};
    if (!ReadFolderNames(folder, AddName, &names)) {
        t->report->kept++;
        FreeStrings(&names);
        return false;
    }
    HeldFolder moveTo;
    moveTo.open = false;
    bool empty = true;
    for (size_t i = 0; i < names.count; i++) {
        const char *name = names.items[i];
        PageIdentity id;
        EntryKind kind = LookAtEntry(folder, name, &id);
        char inner[kFolderPathSize], full[2 * kFolderPathSize], key[kFolderPathSize];
        snprintf(inner, sizeof inner, "%s%s%s", sub, sub[0] ? "/" : "", name);
        snprintf(full, sizeof full, "%s%s", t->reach->root, inner);
        if (kind == kEntryFolder) {
            HeldFolder child;
            bool gone = false;
            // The folder the files go to may lie inside: it is not walked;
            // nor is a trash (a Recycle Bin's own folder).
            bool target = t->targetId.file && SameFile(&id, &t->targetId);
            if (!target && depth < kMaxDepth && OpenSubfolder(folder, name, &id, &child)) {
                if (!IsTrashFolder(name, &child, nullptr))
                    gone = WalkAndTrim(t, &child, inner, depth + 1);
                CloseHeldFolder(&child);
                gone = gone && !t->preview && RemoveEmptySubfolder(folder, name);
            }
            empty = empty && gone;
            continue;
        }
        if (kind == kEntryMissing)
            continue;
        // A name the key cannot take is kept, as a reached one.
        if (!PathKey(full, false, key, sizeof key) || IsReached(t->reach, key)) {
            empty = false;
            continue;
        }
        DisposeUnreached(t, folder, sub, name, &id, &moveTo);
        empty = empty && !t->preview;
    }
    if (moveTo.open)
        CloseHeldFolder(&moveTo);
    FreeStrings(&names);
    return empty;
}

void TrimCompanionFolder(const HeldFolder *folder, const char *pageName, FileHandle cleaned,
                         const DisposalTarget *target, bool preview, CompanionProc each,
                         void *context, const CompanionNeighbours *neighbours,
                         CompanionReport *report)
{
    StartReport(report);
    if (!FindCompanionFolder(folder, pageName, report->folder, sizeof report->folder)) {
        TellCleanedFar(folder, pageName, cleaned, preview, neighbours);
        return;
    }
    HeldFolder companion;
    PageIdentity id;
    Reach *r = (Reach *)calloc(1, sizeof *r);
    if (!r || LookAtEntry(folder, report->folder, &id) != kEntryFolder ||
        !OpenSubfolder(folder, report->folder, &id, &companion)) {
        report->outcome = kCompanionUnreadable;
        free(r);
        return;
    }
    bool keyed = FolderKey(companion.path, r->root, sizeof r->root - 1);
    r->rootLength = strlen(r->root);
    r->root[r->rootLength++] = '/';
    r->root[r->rootLength] = 0;
    r->outcome = keyed && r->root[0] == '/' ? kCompanionTrimmed : kCompanionUnreadable;
    PageReach own;
    ReadPageReach(cleaned, folder->path, &own);
    if (r->outcome == kCompanionTrimmed && own.stop != kCompanionTrimmed)
        r->outcome = own.stop;
    if (r->outcome == kCompanionTrimmed)
        ApplyReach(r, &own);
    // A preview changes nothing, the neighbours' record neither.
    if (neighbours && !preview)
        neighbours->cleaned(neighbours->context, folder, pageName, &own);
    else
        FreePageReach(&own);
    if (r->outcome == kCompanionTrimmed &&
        !(neighbours && neighbours->forEach(neighbours->context, folder, pageName, ApplyReach, r)))
        ReadOtherPages(folder, pageName, r);
    if (r->outcome == kCompanionTrimmed && neighbours && neighbours->farReach)
        neighbours->farReach(neighbours->context, r->root, ApplyFarPath, r);
    if (r->outcome == kCompanionTrimmed)
        FollowReached(r, &companion);
    report->outcome = r->outcome;
    if (r->outcome == kCompanionTrimmed) {
        Trim t = {r, target, preview, each, context, report, report->folder, {}};
        if (!target->toTrash && !FileIdentity(target->folder.handle, &t.targetId))
            memset(&t.targetId, 0, sizeof t.targetId);
        bool empty = WalkAndTrim(&t, &companion, "", 0);
        CloseHeldFolder(&companion);
        if (empty && !preview)
            RemoveEmptySubfolder(folder, report->folder);
    } else {
        CloseHeldFolder(&companion);
    }
    FreeStrings(&r->reached);
    free(r->slots);
    free(r);
}
