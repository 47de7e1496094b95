// Cleaning the pages of one call: in place, to another file or to standard
// output, or only as a preview (-n); one at a time or several at once.
//
// The cleaning core keeps all of a page's state in the call that cleans it,
// so -j runs pages on several threads at once; each writes exactly what it
// would write alone. Only the messages and reports are shared, and each goes
// out whole (WriteReport).
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <signal.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <memory>
#include <thread>
#include "app/cli_posix.h"
#include "app/dispose.h"
#include "app/options.h"
#include "app/report.h"
#include "app/run.h"
#include "clean/clean.h"
#include "platform/fs.h"
#include "platform/move.h"

// A temporary stream, closed when it goes out of scope.
struct TempStream {
    std::unique_ptr<ByteStream> s{new ByteStream};
    TempStream() { s->isOpen = false; }
    ~TempStream() { StreamClose(s.get()); }
    bool Create() { return StreamCreateTemp(s.get()); }
};

static int64_t FileSize(ByteStream *s)
{
    struct stat st;
    return fstat((int)s->file, &st) == 0 ? (int64_t)st.st_size : -1;
}

// The figures of -v from what the clean reported.
static void TakeFigures(const CleanReport &c, uint32_t options, PageFigures *fig)
{
    fig->bytesBefore = c.bytesIn;
    fig->bytesAfter = c.bytesOut;
    fig->haveStages = true;
    fig->extractFirst = (options & kOptExtractFirst) != 0;
    fig->elementsRemoved = c.removed[kStageElements];
    fig->extractionRemoved = c.removed[kStageExtraction];
    fig->attributesRemoved = c.removed[kStageAttributes];
    switch (c.extraction) {
    case kExtractOff:
        fig->extraction = kExtractionOff;
        break;
    case kExtractNoMainPart:
    case kExtractOutOfMemory:
        fig->extraction = kExtractionWhole;
        break;
    default:
        fig->extraction = kExtractionCut;
        break;
    }
    fig->chosen.clear();
    if (c.extraction == kExtractAnyLayoutPart && c.part.tag) {
        const AnyLayoutResult &p = c.part;
        fig->chosen = std::string(p.tag) + " at bytes " + std::to_string((long long)p.start) + "-" +
                      std::to_string((long long)p.end);
        for (int i = 0; i < p.cutCount; i++)
            fig->chosen += std::string(i ? ", " : "; cut ") + std::to_string((long long)p.cutStart[i]) +
                           "-" + std::to_string((long long)p.cutEnd[i]);
    }
}

bool CleanPageToStream(ByteStream *page, uint32_t options, ByteStream *out, PageFigures *fig)
{
    CleanSwitches sw = SwitchesFromWord(options);
    CleanReport report;
    CleanStatus status = CleanStream(&sw, page, out, &report);
    int err = errno;
    if (status == kCleanReadFailed) {
        ReportError(kErrCannotRead, 0, err);
        return false;
    }
    if (status == kCleanTempFailed) {
        ReportError(kErrCannotCreateTemp, 0, err);
        return false;
    }
    if (status != kCleanDone) {
        ReportError(kErrCannotWritePage, 0, err);
        return false;
    }
    TakeFigures(report, options, fig);
    return true;
}

// The page's bytes for a clean to a stream: its name tested and the file
// opened as the run does, or standard input copied into a temporary file
// (the stages read their input more than once).
static bool OpenPageSource(const char *name, ByteStream *page)
{
    page->isOpen = false;
    if (strcmp(name, "-") == 0) {
        if (!StreamCreateTemp(page)) {
            ReportError(kErrCannotCreateTemp, 0, errno);
            return false;
        }
        static char buf[1 << 16];
        for (;;) {
            ssize_t n = read(0, buf, sizeof buf);
            if (n == 0)
                break;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                ReportError(kErrCannotRead, 0, errno);
                return false;
            }
            StreamWrite(page, buf, (size_t)n);
        }
        if (!StreamFlush(page)) {
            ReportError(kErrCannotCreateTemp, 0, errno);
            return false;
        }
        StreamRewind(page);
        return true;
    }
    if (!IsPageName(name)) {
        ReportWarning(kWarnNotPermissible);
        return false;
    }
    struct stat st;
    if (stat(name, &st) != 0) {
        ReportError(kErrCannotOpen, 0, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ReportError(kErrCannotOpen, 0, S_ISDIR(st.st_mode) ? EISDIR : 0);
        return false;
    }
    FileHandle file;
    if (!OpenPageForReading(name, &file, 0)) {
        ReportError(kErrCannotOpen, 0, errno);
        return false;
    }
    StreamAttach(page, file);
    return true;
}

bool CleanOnePage(const char *path, bool wantStages, PageResult *r)
{
    (void)wantStages;           // the run reports its figures anyway
    if (strlen(path) >= kPathMax) {
        ReportError(kErrCannotOpen, 0, ENAMETOOLONG);
        return false;
    }
    // The run names no reason for a folder or an unreadable page: find it
    // first.
    struct stat was;
    if (IsPageName(path)) {
        if (stat(path, &was) != 0) {
            ReportError(kErrCannotOpen, 0, errno);
            return false;
        }
        if (S_ISDIR(was.st_mode)) {
            ReportError(kErrCannotOpen, 0, EISDIR);
            return false;
        }
        if (S_ISREG(was.st_mode) && access(path, R_OK) != 0) {
            ReportError(kErrCannotOpen, 0, errno);
            return false;
        }
    }
    InPlaceResult res;
    if (!CleanPageInPlace(path, CleanOptions, TargetFolder, &res))
        return false;
    r->cleaned = true;
    TakeFigures(res.clean, CleanOptions, &r->figures);
    if (res.disposal.kind == kDisposedToFolder) {
        r->place = kOriginalInFolder;
        r->where = res.disposal.where;
    } else {
        r->place = kOriginalInTrash;
    }
    return true;
}

// ---- The file that -o writes

// A new file in the output's folder, without a name while it is written
// where the file system allows, renamed over the output at the end, so the
// output is never seen half written.
struct OutputFile {
    int fd = -1;
    std::string path, folder, tempPath;
};

static std::string FolderOfPath(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

static bool CreateOutput(const char *path, OutputFile *o)
{
    o->path = path;
    o->folder = FolderOfPath(o->path);
#ifdef O_TMPFILE
    o->fd = open(o->folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (o->fd >= 0)
        return true;
#endif
    std::string temp = o->folder + "/.webtrim-XXXXXX";
    o->fd = mkostemp(&temp[0], O_CLOEXEC);
    if (o->fd < 0)
        return false;
    o->tempPath = temp;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(o->fd, 0666 & ~mask);
    return true;
}

static void DropOutput(OutputFile *o)
{
    if (!o->tempPath.empty())
        unlink(o->tempPath.c_str());
    if (o->fd >= 0)
        close(o->fd);
    o->fd = -1;
    o->tempPath.clear();
}

static bool PlaceOutput(OutputFile *o)
{
    if (fdatasync(o->fd) != 0)
        return false;
    if (o->tempPath.empty()) {
        // Give the nameless file a hidden name, then rename it over the output.
        char proc[64];
        snprintf(proc, sizeof proc, "/proc/self/fd/%d", o->fd);
        for (int i = 0; i < 100 && o->tempPath.empty(); i++) {
            std::string name = o->folder + "/.webtrim-" + std::to_string(getpid()) + "-" +
                               std::to_string(i);
            if (linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
                o->tempPath = name;
            else if (errno != EEXIST)
                return false;
        }
        if (o->tempPath.empty())
            return false;
    }
    if (rename(o->tempPath.c_str(), o->path.c_str()) != 0)
        return false;
    o->tempPath.clear();
    int dir = open(o->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    int fd = o->fd;
    o->fd = -1;
    return close(fd) == 0;
}

// Copies a whole temporary stream to standard output.
static bool CopyToStdout(ByteStream *s)
{
    int fd = (int)s->file;
    int64_t size = FileSize(s);
    off_t at = 0;
    while (at < size) {
        ssize_t n = sendfile(1, fd, &at, (size_t)(size - at));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS))
            break;              // no sendfile to this output: copy by hand
        return false;
    }
    static char buf[1 << 16];
    while (at < size) {
        ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n <= 0)
            return false;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(1, buf + done, (size_t)(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
        at += n;
    }
    return true;
}

// ---- One page of the call

static bool CleanToOutput(const PageEntry &e, const CallOptions &call, PageResult *r)
{
    TempStream page;
    if (!OpenPageSource(e.name.c_str(), page.s.get()))
        return false;
    bool toStdout = call.dryRun || !call.output || strcmp(call.output, "-") == 0;
    struct stat st;
    if (toStdout && !call.dryRun && fstat(1, &st) == 0 && S_ISREG(st.st_mode)) {
        // Standard output is a file: the last stage writes into it from its
        // current offset, and the offset is left after the page.
        off_t at = lseek(1, 0, SEEK_CUR);
        ByteStream *out = new ByteStream;
        StreamAttach(out, 1);
        out->bufStart = at < 0 ? 0 : at;
        bool ok = CleanPageToStream(page.s.get(), CleanOptions, out, &r->figures);
        if (ok && at >= 0)
            lseek(1, (off_t)StreamTell(out), SEEK_SET);
        delete out;             // standard output stays open
        r->cleaned = ok;
        return ok;
    }
    if (toStdout) {
        TempStream out;
        if (!out.Create()) {
            ReportError(kErrCannotCreateTemp, 0, errno);
            return false;
        }
        if (!CleanPageToStream(page.s.get(), CleanOptions, out.s.get(), &r->figures))
            return false;
        if (!call.dryRun && !CopyToStdout(out.s.get())) {
            ReportError(kErrCannotWritePage, 0, errno);
            return false;
        }
        r->cleaned = true;
        return true;
    }
    OutputFile o;
    if (!CreateOutput(call.output, &o)) {
        ReportError(kErrCannotWritePage, 0, errno);
        return false;
    }
    ByteStream *out = new ByteStream;
    StreamAttach(out, o.fd);
    bool ok = CleanPageToStream(page.s.get(), CleanOptions, out, &r->figures);
    delete out;                 // the descriptor stays with o
    if (!ok) {
        DropOutput(&o);
        return false;
    }
    if (!PlaceOutput(&o)) {
        ReportError(kErrCannotWritePage, 0, errno);
        DropOutput(&o);
        return false;
    }
    r->cleaned = true;
    return true;
}

// What a run would do with the original, without touching anything.
static void PredictDisposal(const char *path, PageResult *r)
{
    r->place = kOriginalInTrash;
    if ((CleanOptions & kOptRecycleBin) || !IsExistingFolder(TargetFolder))
        return;
    std::string folder = TargetFolder;
    if (folder.back() != '/')
        folder += '/';
    const char *name = FindFileName(path);
    for (int n = 0; n < 999; n++) {
        std::string prefix = n ? "~" + std::to_string(n) + "_" : "";
        std::string candidate = folder + prefix + name;
        if (candidate.size() > PATH_MAX - 1 || prefix.size() + strlen(name) > NAME_MAX)
            return;
        if (!PathExists(candidate.c_str())) {
            r->place = kOriginalInFolder;
            r->where = candidate;
            return;
        }
    }
}

// -n on a page to be cleaned in place: the clean to a stream tells what
// would be removed; the page's folder must take a new file.
static bool PreviewInPlace(const PageEntry &e, PageResult *r)
{
    if (!CleanToOutput(e, CallOptions{true, nullptr, 1}, r))
        return false;
    std::string folder = FolderOfPath(e.name);
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        ReportError(kErrCannotWritePage, 0, errno);
        r->cleaned = false;
        return false;
    }
    PredictDisposal(e.name.c_str(), r);
    return true;
}

static std::string Bytes(int64_t n)
{
    return std::to_string((long long)n) + (n == 1 || n == -1 ? " byte" : " bytes");
}

static std::string Removed(int64_t n)
{
    return n >= 0 ? Bytes(n) + " removed" : Bytes(-n) + " added";
}

// The report of a page for -v and -n.
static std::string Describe(const PageEntry &e, const PageResult &r, const CallOptions &call,
                            bool verbose)
{
    const PageFigures &f = r.figures;
    std::string name = e.name == "-" ? "(standard input)" : e.name;
    std::string s = name + ": " + (call.dryRun ? "would be cleaned" : "cleaned");
    if (!call.dryRun && call.output)
        s += std::string(" into ") + (strcmp(call.output, "-") ? call.output : "standard output");
    if (f.bytesBefore >= 0 && f.bytesAfter >= 0)
        s += ", " + std::to_string((long long)f.bytesBefore) + " -> " + Bytes(f.bytesAfter);
    s += "\n";
    if (verbose && f.haveStages) {
        std::string extraction = "  main part: ";
        if (f.extraction == kExtractionOff)
            extraction += "not looked for (--no-extract)";
        else if (f.extraction == kExtractionWhole)
            extraction += "none stood out; the page was kept whole";
        else
            extraction += "the page was cut to its main part" +
                          (f.chosen.empty() ? std::string() : " (" + f.chosen + ")") + ", " +
                          Removed(f.extractionRemoved);
        extraction += "\n";
        std::string elements = "  elements: " + Removed(f.elementsRemoved) + "\n";
        s += f.extractFirst ? extraction + elements : elements + extraction;
        s += "  attributes: " + Removed(f.attributesRemoved) + "\n";
    }
    bool inPlace = !call.output && e.name != "-";
    if (!inPlace) {
        if (verbose)
            s += "  original: left as it was\n";
    } else if (r.place == kOriginalInTrash) {
        s += call.dryRun ? "  original: would go to the trash\n" : "  original: moved to the trash\n";
    } else if (r.place == kOriginalInFolder) {
        s += (call.dryRun ? "  original: would be moved to " : "  original: moved to ") + r.where +
             "\n";
    }
    return s;
}

static bool CleanEntry(const PageEntry &e, const CallOptions &call)
{
    PageContext page = {e.name == "-" ? "-" : e.name.c_str(), false, 0};
    CurrentPage = &page;
    PageResult r;
    bool verbose = MessageLevel == kLevelVerbose;
    bool inPlace = !call.output && e.name != "-";
    bool ok;
    if (call.dryRun && inPlace)
        ok = PreviewInPlace(e, &r);
    else if (!inPlace || call.dryRun)
        ok = CleanToOutput(e, call, &r);
    else
        ok = CleanOnePage(e.name.c_str(), verbose, &r);
    ok = ok && page.stops == 0;
    if (ok && (verbose || (call.dryRun && MessageLevel != kLevelQuiet)))
        WriteReport(Describe(e, r, call, verbose));
    CurrentPage = nullptr;
    return ok;
}

// ---- Many pages

// Runs the pages on `jobs` threads. The termination signals are taken by
// this thread alone: on one, no new page is started, the pages under way
// are finished (none is left with its original away), then the signal ends
// the process as it would have.
static int CleanInParallel(const std::vector<PageEntry> &pages, const CallOptions &call, int jobs)
{
    sigset_t stopSignals, old;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigaddset(&stopSignals, SIGUSR1);       // a worker's "all done"
    pthread_sigmask(SIG_BLOCK, &stopSignals, &old);

    std::atomic<size_t> next{0};
    std::atomic<int> running{jobs}, failed{0};
    std::atomic<bool> stop{false};
    pthread_t self = pthread_self();
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; j++) {
        workers.emplace_back([&] {
            for (size_t i; !stop && (i = next++) < pages.size();)
                if (!CleanEntry(pages[i], call))
                    failed++;
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
    return failed ? 1 : 0;
}

int CleanPages(const std::vector<PageEntry> &pages, const CallOptions &call)
{
    int jobs = call.jobs < 1 ? 1 : call.jobs;
    if ((size_t)jobs > pages.size())
        jobs = (int)pages.size();
    if (jobs > 1)
        return CleanInParallel(pages, call, jobs);
    int status = 0;
    for (const PageEntry &e : pages)
        if (!CleanEntry(e, call))
            status = 1;
    return status;
}
