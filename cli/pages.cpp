// Cleaning the pages of one call: in place, to another file or to standard
// output, or only as a preview (-n); one at a time or several at once.
//
// The run keeps all of a page's state in the call that cleans it, so -j
// runs pages on several threads at once; each writes exactly what it would
// write alone. What a page says (its messages, its report) is kept with it
// and goes out when every page before it in the list has gone out, so the
// reports come in the order of the list whatever -j is.
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

// The run's messages for one page, kept with its report.
struct PageSink {
    const Call *call;
    PageReport *report;
    std::string name;           // the name messages show
};

static void OnMessage(void *context, MessageKind kind, int id, const char *detail, int sysError)
{
    PageSink *sink = (PageSink *)context;
    // A page refused for its name stops like an error does.
    bool stops = kind == kMessageError || id == kWarnNotPermissible;
    if (!stops && sink->call->level == kLevelQuiet)
        return;
    sink->report->err += MessageLine(sink->name, MessageText(kind, id), detail, sysError);
}

// A message of the command line's own about the page (or "standard
// output", which is no name to quote).
static void Say(PageReport *p, const std::string &name, const char *text, int sysError = 0,
                bool quote = true)
{
    p->err += MessageLine(name, text, 0, sysError, quote);
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
    job.wantHint = !call.json && (call.level == kLevelVerbose || call.dryRun);
    return job;
}

// Standard input into a temporary file (the stages read their input more
// than once).
static bool ReadStandardInput(ByteStream *page, PageReport *p, const std::string &name)
{
    if (!StreamCreateTemp(page)) {
        Say(p, name, ErrorText(kErrCannotCreateTemp), errno);
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
            Say(p, name, ErrorText(kErrCannotRead), errno);
            return false;
        }
        StreamWrite(page, buf, (size_t)n);
    }
    if (!StreamFlush(page)) {
        Say(p, name, ErrorText(kErrCannotCreateTemp), errno);
        return false;
    }
    StreamRewind(page);
    return true;
}

static void Failed(PageReport *p, ErrorId id, int sysError)
{
    p->result.outcome = kPageFailed;
    p->result.stop.id = id;
    p->result.stop.kind = kMessageError;
    p->result.stop.sysError = sysError;
}

// A clean that writes elsewhere: to -o's file, to standard output, or
// nowhere (-n).
static void CleanToOutput(const PageEntry &e, const HeldFolder *folder, const Call &call,
                          const RunCallbacks *cb, PageReport *p)
{
    PageResult *r = &p->result;
    PageSink *sink = (PageSink *)cb->context;
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
        ok = ReadStandardInput(page, p, sink->name);
        if (!ok)
            Failed(p, kErrCannotRead, errno);
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
        Say(p, sink->name, ErrorText(kErrCannotCreateTemp), errno);
        Failed(p, kErrCannotCreateTemp, errno);
        ok = false;
    }
    ok = ok && CleanToStream(&job, page, out, r);
    if (ok && !call.dryRun) {
        // Its errors name the output, not the page.
        const char *to = call.output ? call.output : "-";
        std::string toName = strcmp(to, "-") ? std::string(to) : std::string("standard output");
        Output o;
        if (!OpenOutput(to, mode, &o) || !WriteOutput(&o, out)) {
            int err = errno;
            Say(p, toName, ErrorText(kErrCannotWritePage), err, strcmp(to, "-") != 0);
            Failed(p, kErrCannotWritePage, err);
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

static PageReport *CleanEntry(const PageEntry &e, const Call &call)
{
    PageReport *p = new PageReport;
    p->entry = &e;
    p->inPlace = !call.output && e.name != "-";
    StartPageResult(&p->result);
    std::string name = e.name == "-" ? "-" : e.name;
    if (!e.sameAs.empty()) {
        // The cleaned page takes the first name only: this one keeps the
        // original's inode, so it still holds the old page.
        p->err = "webtrim: " + QuoteName(e.name) + ": same file as " + QuoteName(e.sameAs) +
                 "; left as it was (it still names the original)\n";
        return p;
    }
    if (e.isFolder) {
        p->result.outcome = kPageRefused;
        p->result.stop.id = kErrCannotOpen;
        p->result.stop.sysError = EISDIR;
        p->err = "webtrim: " + QuoteName(e.name) +
                 ": a folder; to clean the pages in it and in the folders below it, use -r\n";
        return p;
    }
    const HeldFolder *folder = e.folder ? TakeFolder(e.folder.get()) : nullptr;
    if (e.folder && !folder) {
        int err = errno;
        Say(p, name, err == ESTALE ? "its folder is no longer the one that was read; left as it was"
                                   : "Cannot open its folder", err == ESTALE ? 0 : err);
        Failed(p, kErrCannotOpen, err);
        return p;
    }
    PageSink sink = {&call, p, name};
    RunCallbacks cb = {&sink, OnMessage, nullptr, nullptr};
    PageJob job = JobOf(e, folder, call, &cb);
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

struct Printer {
    const Call *call;
    std::mutex lock;
    std::vector<PageReport *> done;     // by index; null until the page is done
    size_t next = 0;                    // the first page not yet printed
    CallTotals totals;
    int failed = 0;
    int stdoutError = 0;                // errno of a failed write to standard output
};

static void Print(Printer *pr, PageReport *p)
{
    const Call &call = *pr->call;
    if (!p->err.empty())
        WriteAllTo(2, p->err);
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

static void Done(Printer *pr, size_t index, PageReport *p)
{
    std::lock_guard<std::mutex> hold(pr->lock);
    pr->done[index] = p;
    while (pr->next < pr->done.size() && pr->done[pr->next]) {
        PageReport *q = pr->done[pr->next];
        Print(pr, q);
        delete q;
        pr->done[pr->next] = (PageReport *)1;   // printed
        pr->next++;
    }
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
            for (size_t i; !stop && (i = next++) < pages.size();)
                Done(pr, i, CleanEntry(pages[i], call));
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
    if (jobs > 1) {
        CleanInParallel(pages, call, jobs, &pr);
    } else {
        for (size_t i = 0; i < pages.size(); i++)
            Done(&pr, i, CleanEntry(pages[i], call));
    }
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
