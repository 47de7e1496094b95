// Cleaning the pages of one call: in place, to another file or to standard
// output, or only as a preview (-n); one at a time or several at once.
//
// The run keeps all of a page's state in the call that cleans it, so -j
// runs pages on several threads at once; each writes exactly what it would
// write alone. What a page says (its messages, its report) is kept with it
// and goes out when every page before it in the list has gone out, so the
// reports come in the order of the list whatever -j is.
//
// The folders the pages changed are synced once for a batch of pages (a
// group commit), not once for every page: a page is reported, and counted
// done, only after the flush that follows it, so that a page reported
// cleaned has its new page and its original's new place on the disk. The
// trash is opened once for the call and held.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include "app/run.h"
#include "cli/messages.h"
#include "cli/pages.h"
#include "cli/report.h"
#include "cli/output.h"
#include "platform/place.h"
#include "platform/durable.h"
#include "platform/trash.h"

// The run's messages for one page, kept with its report.
struct PageSink {
    const Call *call;
    PageReport *report;
    std::string name;           // the name messages show
};

// The run's warnings as they come. What stops a page (an error, a name
// refused) is in its record and said from there when the page is printed
// (StopLine), as --json says it.
static void OnMessage(void *context, MessageKind kind, int id, const char *detail, int sysError)
{
    PageSink *sink = (PageSink *)context;
    bool stops = kind == kMessageError || id == kWarnNotPermissible;
    if (stops || sink->call->level == kLevelQuiet)
        return;
    sink->report->err += MessageLine(sink->name, MessageText(kind, id), detail, sysError);
}

// ---- What the pages of each folder reach, for the companion folders

// Each folder's pages are read once in a call: the first page of a folder
// with a companion folder reads the others, and every page cleaned after
// records its own reach. A folder is known by its volume and file number.
struct FolderReach {
    std::map<std::string, PageReach> pages;
};
// The far paths (IsFarPath) of the call's pages, read once, the first time
// a companion folder asks and only when the call's pages lie in more than
// one folder: by path, each with its letter, and by page (its folder's path
// and its name) where it has any. A page cleaned after the reading is read
// again (namesFar) and takes its new paths' place. Memory: the far paths,
// not the pages.
typedef std::multimap<std::string, char> FarIndex;
struct FarRecord {
    const std::vector<PageEntry> *pages = nullptr;
    bool wanted = false;
    bool read = false;
    FarIndex index;
    std::map<std::string, std::vector<FarIndex::iterator>> byPage;
};

struct NeighbourRecord {
    std::mutex lock;
    std::map<std::pair<uint64_t, uint64_t>, FolderReach> folders;
    FarRecord far;
    ~NeighbourRecord()
    {
        for (auto &f : folders)
            for (auto &p : f.second.pages)
                FreePageReach(&p.second);
    }
};

static bool FolderKey(const HeldFolder *folder, std::pair<uint64_t, uint64_t> *key)
{
    PageIdentity id;
    if (!FileIdentity(folder->handle, &id))
        return false;
    *key = {id.volume, id.file};
    return true;
}

static void AddListedName(void *context, const char *name)
{
    ((std::vector<std::string> *)context)->push_back(name);
}

// The folder's pages, read the first time it is asked for (under the lock).
static FolderReach *ReachOfFolder(NeighbourRecord *rec, const HeldFolder *folder)
{
    std::pair<uint64_t, uint64_t> key;
    if (!FolderKey(folder, &key))
        return nullptr;
    auto found = rec->folders.find(key);
    if (found != rec->folders.end())
        return &found->second;
    std::vector<std::string> names;
    if (!ReadFolderNames(folder, AddListedName, &names))
        return nullptr;
    FolderReach &f = rec->folders[key];
    for (const std::string &name : names) {
        FileHandle file;
        PageIdentity id;
        if (!IsPageName(name.c_str()) || IsArchiveName(name.c_str()) ||
            LookAtEntry(folder, name.c_str(), nullptr) != kEntryFile ||
            !OpenEntryForReading(folder, name.c_str(), &file, &id))
            continue;
        PageReach reach;
        ReadPageReach(file, folder->path, &reach);
        PlatformClose(file);
        f.pages[name] = reach;
    }
    return &f;
}

static bool ForEachNeighbour(void *context, const HeldFolder *folder, const char *pageName,
                             void (*each)(void *eachContext, const PageReach *reach), void *eachContext)
{
    NeighbourRecord *rec = (NeighbourRecord *)context;
    std::lock_guard<std::mutex> hold(rec->lock);
    FolderReach *f = ReachOfFolder(rec, folder);
    if (!f)
        return false;
    for (auto &p : f->pages)
        if (p.first != pageName)
            each(eachContext, &p.second);
    return true;
}

static std::string PagePath(const HeldFolder *folder, const char *pageName)
{
    return std::string(strcmp(folder->path, "/") == 0 ? "" : folder->path) + "/" + pageName;
}

// A page's far paths in place of those it had (under the lock).
static void PutFarPaths(FarRecord *far, const std::string &page, const char *folderPath, const PageReach *reach)
{
    auto found = far->byPage.find(page);
    if (found != far->byPage.end()) {
        for (FarIndex::iterator at : found->second)
            far->index.erase(at);
        far->byPage.erase(found);
    }
    std::vector<FarIndex::iterator> paths;
    for (size_t i = 0; i < reach->count; i++)
        if (IsFarPath(reach->paths[i] + 1, folderPath))
            paths.push_back(far->index.insert({reach->paths[i] + 1, reach->paths[i][0]}));
    if (!paths.empty())
        far->byPage[page] = std::move(paths);
}

// One page of the call into the far record, as it stands on the disk.
static void ReadFarPage(FarRecord *far, const HeldFolder *folder, const char *pageName)
{
    FileHandle file;
    PageIdentity id;
    if (IsArchiveName(pageName) || LookAtEntry(folder, pageName, nullptr) != kEntryFile ||
        !OpenEntryForReading(folder, pageName, &file, &id))
        return;
    PageReach reach;
    ReadPageReach(file, folder->path, &reach);
    PlatformClose(file);
    PutFarPaths(far, PagePath(folder, pageName), folder->path, &reach);
    FreePageReach(&reach);
}

// Every page of the call, read once (under the lock).
static void ReadFarPages(FarRecord *far)
{
    far->read = true;
    for (const PageEntry &e : *far->pages) {
        if (e.name == "-" || e.isFolder || !e.sameAs.empty())
            continue;
        if (e.folder) {
            const HeldFolder *folder = TakeFolder(e.folder.get());
            if (folder) {
                ReadFarPage(far, folder, e.entry.c_str());
                LetGoOfFolder(e.folder.get());
            }
            continue;
        }
        HeldFolder opened;
        char name[kFolderPathSize];
        if (OpenPageFolder(e.name.c_str(), &opened, name, sizeof name)) {
            ReadFarPage(far, &opened, name);
            CloseHeldFolder(&opened);
        }
    }
}

static void ForEachFarPath(void *context, const char *root,
                           void (*each)(void *eachContext, char kind, const char *path), void *eachContext)
{
    NeighbourRecord *rec = (NeighbourRecord *)context;
    std::lock_guard<std::mutex> hold(rec->lock);
    FarRecord *far = &rec->far;
    if (!far->wanted)
        return;
    if (!far->read)
        ReadFarPages(far);
    size_t n = strlen(root);
    for (auto at = far->index.lower_bound(root); at != far->index.end() && at->first.compare(0, n, root) == 0; ++at)
        each(eachContext, at->second, at->first.c_str());
}

static bool NamesFar(void *context, const HeldFolder *folder, const char *pageName)
{
    NeighbourRecord *rec = (NeighbourRecord *)context;
    std::lock_guard<std::mutex> hold(rec->lock);
    return rec->far.read && rec->far.byPage.count(PagePath(folder, pageName)) != 0;
}

// Whether the pages of the list lie in more than one folder (as named: two
// names of one folder count as two, which only costs a reading).
static bool PagesOfManyFolders(const std::vector<PageEntry> &pages)
{
    std::set<const WalkFolder *> walked;
    std::set<std::string> named;
    for (const PageEntry &e : pages) {
        if (e.name == "-" || e.isFolder || !e.sameAs.empty())
            continue;
        if (e.folder) {
            walked.insert(e.folder.get());
        } else {
            size_t slash = e.name.rfind('/');
            named.insert(slash == std::string::npos ? "" : e.name.substr(0, slash));
        }
        if (walked.size() + named.size() > 1)
            return true;
    }
    return false;
}

static void NeighbourCleaned(void *context, const HeldFolder *folder, const char *pageName, PageReach *reach)
{
    NeighbourRecord *rec = (NeighbourRecord *)context;
    std::lock_guard<std::mutex> hold(rec->lock);
    // Read from the disk, as it stands then, if it is read later.
    if (rec->far.read)
        PutFarPaths(&rec->far, PagePath(folder, pageName), folder->path, reach);
    std::pair<uint64_t, uint64_t> key;
    auto found = FolderKey(folder, &key) ? rec->folders.find(key) : rec->folders.end();
    if (found == rec->folders.end()) {
        // Read when a later page of the folder asks: as it stands then.
        FreePageReach(reach);
        return;
    }
    PageReach &slot = found->second.pages[pageName];
    FreePageReach(&slot);
    slot = *reach;
}

// -n -v: each companion file that would go, on its own line.
static void OnCompanionFile(void *context, const char *path, int64_t size)
{
    PageSink *sink = (PageSink *)context;
    if (sink->call->level != kLevelVerbose || !sink->call->dryRun)
        return;
    sink->report->companionList += "    " + QuoteName(path) + " (" + SizeText(size) + ")\n";
}

// `folder`: the page's folder, taken, for a page found by -r; else null.
static PageJob JobOf(const PageEntry &e, const HeldFolder *folder, const Call &call, const RunCallbacks *cb)
{
    PageJob job;
    job.path = e.name.c_str();
    job.folder = folder;
    job.name = folder ? e.entry.c_str() : nullptr;
    job.switches = call.switches;
    job.target = &call.target;
    job.callbacks = cb;
    job.sayMissingFolder = false;      // said once for the call
    // The hint costs a second scan: only where a report is asked for.
    job.wantHint = !call.json && call.level == kLevelVerbose;
    job.keepTimes = (call.settings.word & kOptPreserveTime) != 0;
    job.companionFile = OnCompanionFile;
    job.neighbours = call.neighbours;
    return job;
}

// A stop of the command line's own, in the record; `detail` follows the
// text as the run's details do.
static void Failed(PageReport *p, ErrorId id, int sysError, const char *detail = nullptr,
                   PageOutcome outcome = kPageFailed)
{
    p->result.outcome = outcome;
    p->result.stop.id = id;
    p->result.stop.kind = kMessageError;
    p->result.stop.sysError = sysError;
    snprintf(p->result.stop.detail, sizeof p->result.stop.detail, "%s", detail ? detail : "");
}

// Standard input into a temporary file (the stages read their input more
// than once).
static bool ReadStandardInput(ByteStream *page, PageReport *p)
{
    if (!StreamCreateTemp(page)) {
        Failed(p, kErrCannotCreateTemp, errno);
        return false;
    }
    static thread_local char buf[1 << 16];
    for (;;) {
        ssize_t n = read(0, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Failed(p, kErrCannotRead, errno);
            return false;
        }
        StreamWrite(page, buf, (size_t)n);
    }
    if (!StreamFlush(page)) {
        Failed(p, kErrCannotCreateTemp, errno);
        return false;
    }
    StreamRewind(page);
    return true;
}

// A clean that writes elsewhere: to -o's file, to standard output, or
// nowhere (-n).
static void CleanToOutput(const PageEntry &e, const HeldFolder *folder, const Call &call,
                          const RunCallbacks *cb, PageReport *p)
{
    PageResult *r = &p->result;
    PageJob job = JobOf(e, folder, call, cb);
    ByteStream *page = new ByteStream, *out = new ByteStream;
    page->isOpen = out->isOpen = false;
    OpenedPage opened;
    opened.open = false;
    opened.borrowed = true;
    unsigned mode = 0666;
    bool ok;
    if (e.name == "-") {
        StartPageResult(r);
        ok = ReadStandardInput(page, p);
    } else {
        ok = OpenPageToClean(&job, &opened, r);
        if (ok) {
            StreamAttach(page, opened.file);
            struct stat st;
            if (fstat((int)opened.file, &st) == 0)
                mode = st.st_mode & 0777;
        }
    }
    if (ok && !StreamCreateTemp(out)) {
        Failed(p, kErrCannotCreateTemp, errno);
        ok = false;
    }
    ok = ok && CleanToStream(&job, page, out, r);
    if (ok && !call.dryRun) {
        // Its errors name the output, not the page.
        const char *to = call.output ? call.output : "-";
        Output o;
        const PageIdentity *times = job.keepTimes && opened.open ? &opened.id : nullptr;
        if (!OpenOutput(to, mode, &o) || !WriteOutput(&o, out, times)) {
            Failed(p, kErrCannotWritePage, errno);
            p->stopAbout = strcmp(to, "-") ? QuoteName(to) : std::string("standard output");
            ok = false;
        }
        CloseOutput(&o);
    }
    if (ok)
        r->outcome = kPageCleaned;
    if (out->isOpen)
        StreamClose(out);
    if (e.name == "-" && page->isOpen)
        StreamClose(page);
    CloseOpenedPage(&opened);
    delete page;
    delete out;
}

// The folder of the pages named by their paths, held from one page to the
// next of the same folder part (one thread's): a list of pages of one
// folder walks its path once, not once a page, as -r holds the folders it
// was given.
struct NamedFolder {
    std::string dir;            // the folder part of the path as given ("" for none)
    HeldFolder held;
    NamedFolder() { held.open = false; }
    ~NamedFolder() { CloseHeldFolder(&held); }
    NamedFolder(const NamedFolder &) = delete;
    NamedFolder &operator=(const NamedFolder &) = delete;
};

// The held folder of a page named by its path, and its name there, when
// that name is a file of the folder (a link is left to the run, which
// takes it at its target); else null.
static const HeldFolder *NamedFolderOf(const PageEntry &e, NamedFolder *named, std::string *name)
{
    size_t slash = e.name.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : e.name.substr(0, slash + 1);
    *name = e.name.substr(dir.size());
    if (dir != named->dir || !named->held.open) {
        CloseHeldFolder(&named->held);
        named->dir = dir;
        if (!OpenHeldFolder(dir.empty() ? "." : dir.c_str(), &named->held))
            return nullptr;
    }
    if (name->empty() || LookAtEntry(&named->held, name->c_str(), 0) != kEntryFile)
        return nullptr;
    return &named->held;
}

static PageReport *CleanEntry(const PageEntry &e, const Call &call, NamedFolder *named)
{
    PageReport *p = new PageReport;
    p->entry = &e;
    p->inPlace = !call.output && e.name != "-";
    StartPageResult(&p->result);
    std::string name = e.name == "-" ? "-" : e.name;
    if (!e.sameAs.empty()) {
        // The cleaned page takes the first name only: this one keeps the
        // original's inode, so it still holds the old page.
        std::string detail = QuoteName(e.sameAs) + "; left as it was (it still names the original)";
        Failed(p, kErrSameFile, 0, detail.c_str(), kPageRefused);
        return p;
    }
    if (e.isFolder) {
        Failed(p, kErrIsFolder, 0, nullptr, kPageRefused);
        return p;
    }
    const HeldFolder *folder = e.folder ? TakeFolder(e.folder.get()) : nullptr;
    if (e.folder && !folder) {
        int err = errno;
        if (err == ESTALE)
            Failed(p, kErrFolderChanged, 0);
        else
            Failed(p, kErrCannotOpenFolder, err);
        return p;
    }
    PageSink sink = {&call, p, name};
    RunCallbacks cb = {&sink, OnMessage, nullptr, nullptr};
    PageJob job = JobOf(e, folder, call, &cb);
    std::string inFolder;
    if (!e.folder && p->inPlace && !call.dryRun && (job.folder = NamedFolderOf(e, named, &inFolder)))
        job.name = inFolder.c_str();
    if (call.dryRun && p->inPlace)
        PreviewPageInPlace(&job, &p->result);
    else if (!p->inPlace || call.dryRun)
        CleanToOutput(e, folder, call, &cb, p);
    else
        CleanPageInPlace(&job, &p->result);
    if (folder)
        LetGoOfFolder(e.folder.get());
    return p;
}

// ---- The reports, in the order of the list

// A flush comes when this many pages wait for it in a row, when the oldest
// of them has waited this long (a page under way that takes its time holds
// back the reports before it no longer than that, give or take the page
// that ends the wait), and at the end. 32 pages make one folder sync cost
// less than a page's own two file syncs, while the reports still come
// often enough for a person watching (a second at most, a page's own time
// apart); a batch lost to a failed flush stays small.
enum { kSyncBatch = 32 };
static const int64_t kSyncWaitNs = 1000 * 1000 * 1000;

struct Printer {
    const Call *call;
    std::mutex lock;
    std::mutex flushing;                // one flush at a time
    std::vector<PageReport *> done;     // by index; null until the page is done
    size_t next = 0;                    // the first page not yet printed
    size_t ready = 0;                   // the first page not yet done
    int64_t waitingSince = 0;           // when the pages from `next` began to wait
    CallTotals totals;
    int failed = 0;
    int stdoutError = 0;                // errno of a failed write to standard output
};

static int64_t Now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

// A page whose changes the flush could not make last: failed with the
// system's error, and the message says where its original is.
static void NotSynced(PageReport *p, const Call &call, int err)
{
    PageResult *r = &p->result;
    bool wrote = call.output ? strcmp(call.output, "-") != 0 : p->inPlace;
    if (r->outcome != kPageCleaned || call.dryRun || !wrote)
        return;
    std::string where = r->original == kOriginalInFolder ? std::string(kOriginalMovedToText) + r->originalPath
                        : r->original == kOriginalInTrash ? std::string(kOriginalInTrashText)
                                                          : std::string();
    // The detail goes on the lines after the text.
    std::string detail = where.empty() ? where : "\n" + where;
    Failed(p, kErrCannotWritePage, err, detail.c_str());
}

static void Print(Printer *pr, PageReport *p)
{
    const Call &call = *pr->call;
    std::string err = p->err + StopLine(*p);
    if (!err.empty())
        WriteAllTo(2, err);
    if (!p->entry->sameAs.empty())
        return;
    AddToTotals(&pr->totals, p->result);
    bool ok = p->result.outcome == kPageCleaned || p->result.outcome == kPageAlreadyClean;
    if (!ok)
        pr->failed++;
    std::string text = call.json ? PageJson(*p, call) : DescribePage(*p, call);
    int fd = call.reportsToStderr ? 2 : 1;
    if (!text.empty() && !WriteAllTo(fd, text) && fd == 1 && !pr->stdoutError)
        pr->stdoutError = errno;
}

// Syncs the folders the pages changed, then prints every page done in a
// row before the flush began: the flush covers them all.
static void Flush(Printer *pr)
{
    std::lock_guard<std::mutex> one(pr->flushing);
    size_t upto;
    {
        std::lock_guard<std::mutex> hold(pr->lock);
        upto = pr->ready;
        if (upto <= pr->next)
            return;
    }
    int err = 0;
    bool synced = FlushFolderSyncs(&err);
    std::lock_guard<std::mutex> hold(pr->lock);
    for (; pr->next < upto; pr->next++) {
        PageReport *q = pr->done[pr->next];
        if (!synced)
            NotSynced(q, *pr->call, err);
        Print(pr, q);
        delete q;
        pr->done[pr->next] = (PageReport *)1;   // printed
    }
    pr->waitingSince = pr->ready > pr->next ? Now() : 0;
}

static void Done(Printer *pr, size_t index, PageReport *p)
{
    bool flush;
    {
        std::lock_guard<std::mutex> hold(pr->lock);
        pr->done[index] = p;
        size_t n = pr->done.size();
        while (pr->ready < n && pr->done[pr->ready])
            pr->ready++;
        if (pr->ready > pr->next && !pr->waitingSince)
            pr->waitingSince = Now();
        flush = pr->ready - pr->next >= kSyncBatch || (pr->ready == n && n > pr->next) ||
                (pr->ready > pr->next && Now() - pr->waitingSince >= kSyncWaitNs);
    }
    if (flush)
        Flush(pr);
}

// Runs the pages on `jobs` threads. The termination signals are taken by
// this thread alone: on one, no new page is started, the pages under way
// are finished (none is left with its original away), then the signal ends
// the process as it would have.
static void CleanInParallel(const std::vector<PageEntry> &pages, const Call &call, int jobs,
                            Printer *pr)
{
    sigset_t stopSignals, old;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigaddset(&stopSignals, SIGUSR1);       // a worker's "all done"
    pthread_sigmask(SIG_BLOCK, &stopSignals, &old);

    std::atomic<size_t> next{0};
    std::atomic<int> running{jobs};
    std::atomic<bool> stop{false};
    pthread_t self = pthread_self();
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; j++) {
        workers.emplace_back([&] {
            NamedFolder named;
            for (size_t i; !stop && (i = next++) < pages.size();)
                Done(pr, i, CleanEntry(pages[i], call, &named));
            if (--running == 0)
                pthread_kill(self, SIGUSR1);
        });
    }
    int caught = 0;
    while (running > 0) {
        int sig = 0;
        if (sigwait(&stopSignals, &sig) == 0 && sig != SIGUSR1) {
            caught = sig;
            stop = true;
        }
    }
    for (std::thread &t : workers)
        t.join();
    // The pages finished before the signal are made last and reported.
    Flush(pr);
    if (caught) {
        signal(caught, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, caught);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        raise(caught);
    }
    // A stray "all done" may still be pending: take it before unblocking.
    sigset_t pending;
    struct timespec none = {0, 0};
    sigemptyset(&pending);
    sigaddset(&pending, SIGUSR1);
    sigtimedwait(&pending, nullptr, &none);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// Whether `name` has the shape of a run's hidden name: ".wt" and six
// letters or digits.
static bool IsHiddenName(const char *name)
{
    if (strncmp(name, ".wt", 3) != 0 || strlen(name) != 9)
        return false;
    for (const char *c = name + 3; *c; c++) {
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')))
            return false;
    }
    return true;
}

// -v: names the hidden files that runs cut short left in the folders of
// the pages, once per folder, before the pages. A page's own leftover is
// left out: its run takes it up and says so.
static void SayLeftovers(const std::vector<PageEntry> &pages)
{
    std::set<std::pair<uint64_t, uint64_t>> seen;
    std::set<std::string> own;
    for (const PageEntry &e : pages) {
        char name[64];
        LeftoverName(FindFileName(e.folder ? e.entry.c_str() : e.name.c_str()), name, sizeof name);
        own.insert(name);
    }
    for (const PageEntry &e : pages) {
        if (e.name == "-" || e.isFolder || !e.sameAs.empty())
            continue;
        HeldFolder opened;
        opened.open = false;
        char page[kFolderPathSize];
        const HeldFolder *folder = e.folder ? &e.folder->held : &opened;
        if (!e.folder && !OpenPageFolder(e.name.c_str(), &opened, page, sizeof page))
            continue;
        struct stat st;
        int fd = fstat((int)folder->handle, &st) == 0 && seen.insert({st.st_dev, st.st_ino}).second
                     ? openat((int)folder->handle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                     : -1;
        DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
        if (fd >= 0 && !d)
            close(fd);
        while (d) {
            struct dirent *entry = readdir(d);
            if (!entry)
                break;
            char path[kFolderPathSize + 16];
            if (IsHiddenName(entry->d_name) && !own.count(entry->d_name) &&
                EntryPath(folder, entry->d_name, path, sizeof path))
                WriteAllTo(2, MessageLine(path, "a hidden file that a run cut short left; it is not removed", 0, 0));
        }
        if (d)
            closedir(d);
        CloseHeldFolder(&opened);
    }
}

int CleanPages(const std::vector<PageEntry> &pages, Call &call)
{
    if (call.level == kLevelVerbose && !call.output)
        SayLeftovers(pages);
    Printer pr;
    pr.call = &call;
    pr.done.assign(pages.size(), nullptr);
    int jobs = call.jobs < 1 ? 1 : call.jobs;
    if ((size_t)jobs > pages.size())
        jobs = (int)pages.size();
    NeighbourRecord neighbourRecord;
    neighbourRecord.far.pages = &pages;
    neighbourRecord.far.wanted = PagesOfManyFolders(pages);
    CompanionNeighbours neighbours = {&neighbourRecord, ForEachNeighbour, NeighbourCleaned, ForEachFarPath, NamesFar};
    call.neighbours = &neighbours;
    HoldTrashes(true);
    GatherFolderSyncs(true);
    if (jobs > 1) {
        CleanInParallel(pages, call, jobs, &pr);
    } else {
        NamedFolder named;
        for (size_t i = 0; i < pages.size(); i++)
            Done(&pr, i, CleanEntry(pages[i], call, &named));
    }
    Flush(&pr);
    GatherFolderSyncs(false);
    HoldTrashes(false);
    call.neighbours = nullptr;
    int fd = call.reportsToStderr ? 2 : 1;
    if (call.json) {
        if (!WriteAllTo(fd, SummaryJson(pr.totals, call)) && fd == 1 && !pr.stdoutError)
            pr.stdoutError = errno;
    } else if (pr.totals.pages > 1 && call.level != kLevelQuiet) {
        if (!WriteAllTo(fd, SummaryLine(pr.totals, call)) && fd == 1 && !pr.stdoutError)
            pr.stdoutError = errno;
    }
    if (pr.stdoutError) {
        WriteAllTo(2, MessageLine("", "write error on standard output", 0, pr.stdoutError));
        return kExitStopped;
    }
    return pr.failed ? kExitStopped : kExitCleaned;
}
