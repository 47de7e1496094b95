// The list of pages of one call: the names given, the names read from
// --files-from, and with -r the pages of the folders named and of every
// folder below them, folder by folder in name order.
//
// The walk goes down from each named folder one folder at a time, each
// opened from the one above it, never through a link and never by its path
// again. It holds the chain of folders from the named one to the one it
// reads, and at most kHeldFolders others; a folder let go of is opened
// again when its pages come (TakeFolder), from its nearest held ancestor,
// each step checked to be the folder the walk found. It never enters a
// trash (IsTrashFolder) nor the folder that originals go to.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include "app/run.h"
#include "cli/messages.h"
#include "cli/output.h"
#include "cli/pages.h"
#include "platform/trash.h"

// ---- The folders held for the pages found by -r

struct HeldSet {
    std::mutex lock;
    std::vector<WalkFolder *> held;     // the folders held that a call may let go of
    uint64_t clock = 0;
};
static HeldSet heldSet;

// Lets go of the folders held longest unused while more than kHeldFolders
// are held. Under the lock.
static void TrimHeld()
{
    while (heldSet.held.size() > kHeldFolders) {
        size_t oldest = heldSet.held.size();
        for (size_t i = 0; i < heldSet.held.size(); i++) {
            const WalkFolder *f = heldSet.held[i];
            bool older = oldest == heldSet.held.size() || f->lastUse < heldSet.held[oldest]->lastUse;
            if (f->users == 0 && older)
                oldest = i;
        }
        if (oldest == heldSet.held.size())
            return;                     // all in use: more jobs than kHeldFolders
        CloseHeldFolder(&heldSet.held[oldest]->held);
        heldSet.held.erase(heldSet.held.begin() + (long)oldest);
    }
}

// Keeps a folder the walk has read, for its pages, where there is room.
static void KeepForPages(WalkFolder *f)
{
    if (!f->parent || !f->held.open)
        return;
    std::lock_guard<std::mutex> hold(heldSet.lock);
    if (f->hasPages && heldSet.held.size() < kHeldFolders) {
        f->lastUse = ++heldSet.clock;
        heldSet.held.push_back(f);
    } else {
        CloseHeldFolder(&f->held);
    }
}

const HeldFolder *TakeFolder(WalkFolder *folder)
{
    std::lock_guard<std::mutex> hold(heldSet.lock);
    if (!folder->held.open) {
        // The way down from the nearest held ancestor; every step opened
        // from the one before, which is then let go of.
        std::vector<WalkFolder *> way;
        WalkFolder *base = folder;
        while (!base->held.open && base->parent) {
            way.push_back(base);
            base = base->parent.get();
        }
        if (!base->held.open) {
            errno = ESTALE;
            return nullptr;
        }
        HeldFolder at = base->held, next;
        bool own = false;
        for (size_t i = way.size(); i-- > 0;) {
            bool opened = OpenSubfolder(&at, way[i]->name.c_str(), &way[i]->id, &next);
            int err = errno;
            if (own)
                CloseHeldFolder(&at);
            if (!opened) {
                errno = err;
                return nullptr;
            }
            at = next;
            own = true;
        }
        folder->held = at;
        heldSet.held.push_back(folder);
    }
    folder->users++;
    return &folder->held;
}

void LetGoOfFolder(WalkFolder *folder)
{
    std::lock_guard<std::mutex> hold(heldSet.lock);
    folder->users--;
    folder->lastUse = ++heldSet.clock;
    TrimHeld();
}

// ---- The names given and read

static void ListError(const std::string &name, const char *text, int err)
{
    WriteAllTo(2, MessageLine(name, text, 0, err));
}

static void ReadNameList(const std::string &from, bool nul, std::vector<std::string> *out)
{
    FILE *f = from == "-" ? stdin : fopen(from.c_str(), "rb");
    if (!f) {
        ListError(from, "Cannot read this list of pages", errno);
        exit(kExitUsage);
    }
    std::string name;
    int ch;
    int end = nul ? 0 : '\n';
    bool zero = false;
    while ((ch = getc(f)) != EOF) {
        if (ch == 0 && !nul)
            zero = true;
        if (ch == end) {
            if (!name.empty())
                out->push_back(name);
            name.clear();
        } else {
            name += (char)ch;
        }
    }
    if (!name.empty())
        out->push_back(name);
    bool ok = !ferror(f);
    int err = errno;
    if (f != stdin)
        fclose(f);
    if (!ok) {
        ListError(from, "Cannot read this list of pages", err);
        exit(kExitUsage);
    }
    if (zero) {
        ListError(from, "the list holds NUL bytes; read a list of names that end in NUL with -0 (--null)", 0);
        exit(kExitUsage);
    }
}

// ---- The walk

struct FolderId {
    uint64_t dev, ino;
    bool operator<(const FolderId &o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

// What the walk leaves out besides the trashes: the folder originals go to.
struct WalkRules {
    KnownTrashes trashes;
    std::set<FolderId> skip;
};

// One folder of the chain the walk stands in, and its subfolders still to walk.
struct WalkStep {
    std::shared_ptr<WalkFolder> folder;
    std::string shown;                  // its name as messages give it
    std::vector<std::pair<std::string, PageIdentity>> subfolders;
    size_t next = 0;
};

static void AddName(void *context, const char *name)
{
    ((std::vector<std::string> *)context)->push_back(name);
}

// Reads the folder of `step`: its pages go to `out`, its subfolders to the step.
static bool ReadWalkFolder(WalkStep *step, const WalkRules &rules, std::vector<PageEntry> *out)
{
    WalkFolder *folder = step->folder.get();
    std::vector<std::string> names;
    if (!ReadFolderNames(&folder->held, AddName, &names)) {
        ListError(step->shown, "Cannot open this folder", errno);
        return false;
    }
    std::sort(names.begin(), names.end());
    std::string prefix = step->shown.back() == '/' ? step->shown : step->shown + "/";
    for (const std::string &name : names) {
        PageIdentity id;
        EntryKind kind = LookAtEntry(&folder->held, name.c_str(), &id);
        if (kind == kEntryFolder) {
            if (!rules.skip.count({id.volume, id.file}))
                step->subfolders.push_back({name, id});
            continue;
        }
        if (!IsPageName(name.c_str()))
            continue;
        PageEntry e;
        e.name = prefix + name;
        // A link to a file is cleaned (at its target, by its path); a link
        // to a folder is not followed.
        if (kind == kEntryLink) {
            struct stat st;
            if (fstatat((int)folder->held.handle, name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode))
                out->push_back(e);
            continue;
        }
        if (kind != kEntryFile)
            continue;
        e.folder = step->folder;
        e.entry = name;
        e.known = true;
        e.dev = id.volume;
        e.ino = id.file;
        folder->hasPages = true;
        out->push_back(e);
    }
    return true;
}

// Adds the pages below the held folder `root`, depth first in name order.
static bool WalkTree(const std::string &rootName, std::shared_ptr<WalkFolder> root, const WalkRules &rules,
                     std::vector<PageEntry> *out)
{
    std::vector<WalkStep> chain(1);
    chain[0].folder = root;
    chain[0].shown = rootName;
    bool ok = ReadWalkFolder(&chain[0], rules, out);
    while (!chain.empty()) {
        WalkStep &step = chain.back();
        if (step.next == step.subfolders.size()) {
            KeepForPages(step.folder.get());
            chain.pop_back();
            continue;
        }
        const std::pair<std::string, PageIdentity> &sub = step.subfolders[step.next++];
        // A trash by its name is not even opened; the others are looked into.
        if (IsTrashFolder(sub.first.c_str(), nullptr, nullptr))
            continue;
        std::string shown = (step.shown.back() == '/' ? step.shown : step.shown + "/") + sub.first;
        auto folder = std::make_shared<WalkFolder>();
        folder->parent = step.folder;
        folder->name = sub.first;
        folder->id = sub.second;
        if (!OpenSubfolder(&step.folder->held, sub.first.c_str(), &sub.second, &folder->held)) {
            ListError(shown, "Cannot open this folder", errno);
            ok = false;
            continue;
        }
        if (IsTrashFolder(sub.first.c_str(), &folder->held, &rules.trashes))
            continue;
        WalkStep next;
        next.folder = folder;
        next.shown = shown;
        chain.push_back(next);
        ok = ReadWalkFolder(&chain.back(), rules, out) && ok;
    }
    return ok;
}

// Lets the walk hold as many folders as the system allows a process (a
// deep tree holds its whole chain).
static void RaiseOpenFileLimit()
{
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

// A folder named with -r: walked, unless it is where originals go or a trash.
static bool AddFolder(const std::string &name, const struct stat &st, const Call &call,
                      const WalkRules &rules, std::vector<PageEntry> *out)
{
    bool quiet = call.level == kLevelQuiet;
    if (rules.skip.count({(uint64_t)st.st_dev, (uint64_t)st.st_ino})) {
        if (!quiet)
            WriteAllTo(2, MessageLine(name, "Skipped: originals are moved into this folder.", 0, 0));
        return true;
    }
    auto root = std::make_shared<WalkFolder>();
    if (!OpenHeldFolder(name.c_str(), &root->held)) {
        ListError(name, "Cannot open this folder", errno);
        return false;
    }
    FileIdentity(root->held.handle, &root->id);
    if (IsTrashFolder(FindFileName(root->held.path), &root->held, &rules.trashes)) {
        if (!quiet)
            WriteAllTo(2, MessageLine(name, "Skipped: a trash; pages in a trash are not cleaned.", 0, 0));
        return true;
    }
    return WalkTree(name, root, rules, out);
}

bool MakePageList(const ListOptions &options, const Call &call, std::vector<PageEntry> *pages)
{
    std::vector<PageEntry> names;
    bool ok = true;
    WalkRules rules;
    rules.trashes = {nullptr, 0};
    if (options.recursive) {
        FindKnownTrashes(&rules.trashes);
        struct stat st;
        const HeldFolder &target = call.target.folder;
        if (!call.target.toTrash && target.open && fstat((int)target.handle, &st) == 0)
            rules.skip.insert({(uint64_t)st.st_dev, (uint64_t)st.st_ino});
        RaiseOpenFileLimit();
    }
    std::vector<std::string> given = options.pages;
    for (const std::string &from : options.filesFrom)
        ReadNameList(from, options.nulSeparated, &given);
    for (const std::string &name : given) {
        struct stat st;
        bool folder = name != "-" && stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (folder && options.recursive) {
            ok = AddFolder(name, st, call, rules, &names) && ok;
            continue;
        }
        PageEntry e;
        e.name = name;
        e.isFolder = folder;
        names.push_back(e);
    }
    FreeKnownTrashes(&rules.trashes);
    // A second name of a file listed before is noted, not cleaned again;
    // names that cannot be looked at stay in the list, so that their run
    // says why.
    std::map<FolderId, std::string> seen;
    std::set<std::string> seenNames;
    for (PageEntry &e : names) {
        if (e.isFolder) {
            pages->push_back(e);
            continue;
        }
        struct stat st;
        bool got = e.known;
        if (!got && (e.name == "-" ? fstat(0, &st) : stat(e.name.c_str(), &st)) == 0) {
            got = true;
            e.dev = st.st_dev;
            e.ino = st.st_ino;
        }
        if (got) {
            auto it = seen.find({e.dev, e.ino});
            if (it != seen.end()) {
                e.sameAs = it->second;
                e.known = false;
            } else {
                seen[{e.dev, e.ino}] = e.name;
                e.known = true;
            }
        } else if (!seenNames.insert(e.name).second) {
            continue;
        }
        pages->push_back(e);
    }
    return ok;
}
