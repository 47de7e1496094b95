// See companion.h.
//
// The plan has three steps: gather the reached paths (the page, the other
// pages of its folder, then the reached style sheets and markup files of
// the companion folder, breadth first); walk the companion folder, each
// subfolder held and entered without following a link; and dispose of each
// unreached entry there and then, by its identity as the walk saw it.
// Emptied subfolders go last, deepest first, and only when empty.
#include "app/companion.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <deque>
#include <set>
#include <string>
#include "app/run.h"
#include "clean/refs.h"
#include "platform/compare.h"
#include "platform/file.h"

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

#ifdef _WIN32

void TrimCompanionFolder(const HeldFolder *folder, const char *pageName, FileHandle, const DisposalTarget *,
                         bool, CompanionProc, void *, CompanionReport *report)
{
    StartReport(report);
    if (FindCompanionFolder(folder, pageName, report->folder, sizeof report->folder))
        report->outcome = kCompanionNotHere;
}

#else

enum { kMaxDepth = 64 };            // folders below the companion folder
enum { kMaxScanned = 100000 };      // reached files read for their references

// What reaches into the companion folder.
struct Reach {
    std::string root;               // the companion folder's path, then '/'
    std::set<std::string> reached;  // paths below it
    std::deque<std::pair<std::string, bool>> queue;     // to read: path, as a style sheet
    int outcome;                    // kCompanionTrimmed while nothing stops the plan
    bool strict;                    // an unknown reference stops the plan (pages, not files of the folder)
    std::string base;               // the folder the references resolve against
};

static void OnReference(void *context, RefKind kind, const char *text, size_t n)
{
    Reach *r = (Reach *)context;
    if (kind == kRefUnreadable) {
        if (r->strict && r->outcome == kCompanionTrimmed)
            r->outcome = kCompanionUnresolved;
        return;
    }
    char path[kFolderPathSize];
    RefTarget t = ResolveReference(text, n, r->base.c_str(), path, sizeof path);
    if (kind == kRefBase) {
        // A BASE naming the page's own folder changes nothing.
        bool here = t == kTargetFile && r->base == path;
        if (r->strict && !here && r->outcome == kCompanionTrimmed)
            r->outcome = kCompanionBaseElsewhere;
        return;
    }
    if (t == kTargetUnknown) {
        if (r->strict && r->outcome == kCompanionTrimmed)
            r->outcome = kCompanionUnresolved;
        return;
    }
    if (t != kTargetFile || strncmp(path, r->root.c_str(), r->root.size()) != 0)
        return;
    if (r->reached.insert(path).second)
        r->queue.emplace_back(path, kind == kRefStyleSheet);
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

static bool EndsWithIgnoreCase(const std::string &s, const char *suffix)
{
    size_t k = strlen(suffix);
    return s.size() >= k && NamesEqualIgnoreCase(s.c_str() + s.size() - k, suffix);
}

// Opens the file at `path` (below r->root) through held folders, never
// through a link.
static bool OpenBelow(const Reach *r, const HeldFolder *companion, const std::string &path, FileHandle *file)
{
    std::string rest = path.substr(r->root.size());
    HeldFolder at = *companion;
    bool own = false;
    size_t slash;
    int depth = 0;
    bool ok = true;
    while (ok && (slash = rest.find('/')) != std::string::npos) {
        HeldFolder next;
        ok = ++depth <= kMaxDepth && OpenSubfolder(&at, rest.substr(0, slash).c_str(), nullptr, &next);
        if (own)
            CloseHeldFolder(&at);
        if (ok) {
            at = next;
            own = true;
        }
        rest.erase(0, slash + 1);
    }
    PageIdentity id;
    ok = ok && OpenEntryForReading(&at, rest.c_str(), file, &id);
    if (own)
        CloseHeldFolder(&at);
    return ok;
}

// Reads the reached files that may name others, until none is left.
static void FollowReached(Reach *r, const HeldFolder *companion)
{
    r->strict = false;
    int scanned = 0;
    while (!r->queue.empty() && scanned < kMaxScanned) {
        std::pair<std::string, bool> next = r->queue.front();
        r->queue.pop_front();
        const std::string &path = next.first;
        bool css = next.second || EndsWithIgnoreCase(path, ".css");
        bool markup = !css && (EndsWithIgnoreCase(path, ".svg") || EndsWithIgnoreCase(path, ".htm") ||
                               EndsWithIgnoreCase(path, ".html") || EndsWithIgnoreCase(path, ".xhtml") ||
                               EndsWithIgnoreCase(path, ".shtml") || EndsWithIgnoreCase(path, ".xml"));
        FileHandle file;
        if ((!css && !markup) || !OpenBelow(r, companion, path, &file))
            continue;
        scanned++;
        r->base = path.substr(0, path.rfind('/'));
        ReadRefsOf(file, css, r);
        PlatformClose(file);
    }
}

// The names of a folder, gathered.
static void AddName(void *context, const char *name)
{
    ((std::deque<std::string> *)context)->emplace_back(name);
}

// The other pages of the folder, as they stand.
static void ReadOtherPages(const HeldFolder *folder, const char *pageName, Reach *r)
{
    std::deque<std::string> names;
    if (!ReadFolderNames(folder, AddName, &names)) {
        r->outcome = kCompanionUnreadable;
        return;
    }
    for (const std::string &name : names) {
        if (r->outcome != kCompanionTrimmed)
            return;
        if (name == pageName || !IsPageName(name.c_str()) || IsArchiveName(name.c_str()))
            continue;
        FileHandle file;
        PageIdentity id;
        if (LookAtEntry(folder, name.c_str(), 0) != kEntryFile ||
            !OpenEntryForReading(folder, name.c_str(), &file, &id))
            continue;
        if (!ReadRefsOf(file, false, r))
            r->outcome = kCompanionUnreadable;
        PlatformClose(file);
    }
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
};

// The folder in the target that takes the files of `sub` (a path below the
// companion folder, "" for itself), made where it is missing.
static bool OpenTargetFolder(const Trim *t, const std::string &sub, HeldFolder *out)
{
    std::string rest = std::string(t->companionName) + (sub.empty() ? "" : "/" + sub);
    HeldFolder at = t->target->folder;
    bool own = false;
    bool ok = true;
    while (ok && !rest.empty()) {
        size_t slash = rest.find('/');
        std::string name = rest.substr(0, slash);
        rest.erase(0, slash == std::string::npos ? rest.size() : slash + 1);
        HeldFolder next;
        ok = MakeSubfolder(&at, name.c_str(), &next);
        if (own)
            CloseHeldFolder(&at);
        if (ok) {
            at = next;
            own = true;
        }
    }
    if (ok)
        *out = at;
    return ok;
}

// One unreached entry of `folder` (at `sub` below the companion folder).
static void DisposeUnreached(const Trim *t, const HeldFolder *folder, const std::string &sub,
                             const char *name, const PageIdentity *id, HeldFolder *moveTo)
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
static bool WalkAndTrim(const Trim *t, const HeldFolder *folder, const std::string &sub, int depth)
{
    std::deque<std::string> names;
    if (!ReadFolderNames(folder, AddName, &names)) {
        t->report->kept++;
        return false;
    }
    HeldFolder moveTo;
    moveTo.open = false;
    bool empty = true;
    const std::string prefix = t->reach->root + sub + (sub.empty() ? "" : "/");
    for (const std::string &name : names) {
        PageIdentity id;
        EntryKind kind = LookAtEntry(folder, name.c_str(), &id);
        std::string inner = sub.empty() ? name : sub + "/" + name;
        if (kind == kEntryFolder) {
            HeldFolder child;
            bool gone = false;
            if (depth < kMaxDepth && OpenSubfolder(folder, name.c_str(), &id, &child)) {
                gone = WalkAndTrim(t, &child, inner, depth + 1);
                CloseHeldFolder(&child);
                gone = gone && !t->preview && RemoveEmptySubfolder(folder, name.c_str());
            }
            empty = empty && gone;
            continue;
        }
        if (kind == kEntryMissing)
            continue;
        if (t->reach->reached.count(prefix + name)) {
            empty = false;
            continue;
        }
        DisposeUnreached(t, folder, sub, name.c_str(), &id, &moveTo);
        empty = empty && !t->preview;
    }
    if (moveTo.open)
        CloseHeldFolder(&moveTo);
    return empty;
}

void TrimCompanionFolder(const HeldFolder *folder, const char *pageName, FileHandle cleaned,
                         const DisposalTarget *target, bool preview, CompanionProc each,
                         void *context, CompanionReport *report)
{
    StartReport(report);
    if (!FindCompanionFolder(folder, pageName, report->folder, sizeof report->folder))
        return;
    HeldFolder companion;
    PageIdentity id;
    if (LookAtEntry(folder, report->folder, &id) != kEntryFolder ||
        !OpenSubfolder(folder, report->folder, &id, &companion) || companion.path[0] != '/') {
        report->outcome = kCompanionUnreadable;
        return;
    }
    Reach *r = new Reach;
    r->root = std::string(companion.path) + "/";
    r->outcome = kCompanionTrimmed;
    r->strict = true;
    r->base = folder->path;
    if (r->base == "/")
        r->base.clear();
    if (!ReadRefsOf(cleaned, false, r))
        r->outcome = kCompanionUnreadable;
    if (r->outcome == kCompanionTrimmed)
        ReadOtherPages(folder, pageName, r);
    if (r->outcome == kCompanionTrimmed)
        FollowReached(r, &companion);
    report->outcome = r->outcome;
    if (r->outcome == kCompanionTrimmed) {
        Trim t = {r, target, preview, each, context, report, report->folder};
        bool empty = WalkAndTrim(&t, &companion, "", 0);
        CloseHeldFolder(&companion);
        if (empty && !preview)
            RemoveEmptySubfolder(folder, report->folder);
    } else {
        CloseHeldFolder(&companion);
    }
    delete r;
}

#endif
