// --warc: see warc.h. The archives are shared out among -j threads; each
// file's report is written when it is done, the totals last; on a terminal
// a progress line says how far the call has read.
#include "cli/warc.h"
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include "app/json.h"
#include "app/options.h"
#include "app/warcrun.h"
#include "cli/messages.h"

static const char *const kWarcFileStatusNames[] = {"done", "cannot-read", "cannot-write", "same-as-input"};

static bool EndsWith(const std::string &s, const char *end)
{
    size_t n = strlen(end);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, end) == 0;
}

std::string WarcOutputName(const std::string &input, std::vector<std::string> *taken)
{
    std::string base = input.substr(input.find_last_of('/') == std::string::npos ? 0 : input.find_last_of('/') + 1);
    if (EndsWith(base, ".gz"))
        base.resize(base.size() - 3);
    if (EndsWith(base, ".warc"))
        base.resize(base.size() - 5);
    if (base.empty())
        base = "archive";
    std::string name = base + ".warc.gz";
    for (int n = 2; std::find(taken->begin(), taken->end(), name) != taken->end(); n++)
        name = base + "-" + std::to_string(n) + ".warc.gz";
    taken->push_back(name);
    return name;
}

struct WarcTask {
    std::string input, output;
    int status = 0;
    int sysError = 0;
    WarcReport report;
    double seconds = 0;
    int64_t reported = 0;               // raw bytes already added to the call's total
};

struct WarcShared {
    std::vector<WarcTask> *tasks;
    const Call *call;
    const WarcCall *warc;
    const char *version;
    std::atomic<size_t> next{0};
    std::atomic<int64_t> bytesRead{0}, records{0};
    std::atomic<size_t> done{0};
    std::mutex lock;                    // the reports' output
    std::condition_variable finished;
    bool progressShown = false;
};

struct ProgressContext {
    WarcShared *shared;
    WarcTask *task;
    int64_t records;
};

static void OnProgress(void *context, int64_t rawRead, int64_t records)
{
    ProgressContext *p = (ProgressContext *)context;
    p->shared->bytesRead += rawRead - p->task->reported;
    p->task->reported = rawRead;
    p->shared->records += records - p->records;
    p->records = records;
}

static std::string TextReport(const WarcTask &t)
{
    const WarcReport &r = t.report;
    std::string line = "webtrim: " + QuoteName(t.input) + " -> " + QuoteName(t.output) + ": " +
                       std::to_string(r.records) + " records, " + std::to_string(r.cleaned) + " cleaned, " +
                       std::to_string(r.passed) + " passed";
    std::string skips;
    for (int i = 0; i < kWarcSkipCount; i++)
        if (r.skipped[i])
            skips += std::string(skips.empty() ? "" : ", ") + kWarcSkipNames[i] + " " +
                     std::to_string(r.skipped[i]);
    if (!skips.empty())
        line += "; " + skips;
    line += "; " + SizeText(r.fileBytesIn) + " -> " + SizeText(r.fileBytesOut) + "\n";
    return line;
}

static std::string JsonReport(const WarcTask &t)
{
    const WarcReport &r = t.report;
    std::string out;
    JsonWriter w;
    JsonStart(&w, &out);
    JsonOpenObject(&w, nullptr);
    JsonText(&w, "input", t.input.c_str());
    JsonText(&w, "output", t.output.c_str());
    JsonText(&w, "status", kWarcFileStatusNames[t.status]);
    JsonNumber(&w, "records", r.records);
    JsonNumber(&w, "cleaned", r.cleaned);
    JsonNumber(&w, "passed", r.passed);
    JsonOpenObject(&w, "skipped");
    for (int i = 0; i < kWarcSkipCount; i++)
        JsonNumber(&w, kWarcSkipNames[i], r.skipped[i]);
    JsonCloseObject(&w);
    JsonNumber(&w, "bytes_before", r.fileBytesIn);
    JsonNumber(&w, "bytes_after", r.fileBytesOut);
    JsonNumber(&w, "page_bytes_before", r.pageBytesIn);
    JsonNumber(&w, "page_bytes_after", r.pageBytesOut);
    JsonNumber(&w, "milliseconds", (int64_t)(t.seconds * 1000));
    JsonNumber(&w, "pages_per_second", t.seconds > 0 ? (int64_t)(r.cleaned / t.seconds) : 0);
    JsonCloseObject(&w);
    return out + "\n";
}

static void Report(WarcShared *s, const WarcTask &t)
{
    std::lock_guard<std::mutex> hold(s->lock);
    if (s->progressShown)
        WriteAllTo(2, "\r\033[K");
    if (t.status != kWarcFileDone) {
        const char *what = t.status == kWarcFileCannotRead    ? "cannot read the archive"
                           : t.status == kWarcFileCannotWrite ? "cannot write the output"
                                                              : "the output is the input itself";
        std::string line = "webtrim: " + QuoteName(t.status == kWarcFileCannotWrite ? t.output : t.input) +
                           ": " + what;
        if (t.sysError)
            line += std::string(": ") + strerror(t.sysError);
        WriteAllTo(2, line + "\n");
    }
    if (s->call->json)
        WriteAllTo(1, JsonReport(t));
    else if (t.status == kWarcFileDone && s->call->level != kLevelQuiet)
        WriteAllTo(1, TextReport(t));
}

static void Worker(WarcShared *s)
{
    for (;;) {
        size_t i = s->next++;
        if (i >= s->tasks->size())
            break;
        WarcTask &t = (*s->tasks)[i];
        WarcOptions o = WarcOptionsFor(s->call->switches, s->call->settings.word & kSwitchMask, s->version);
        o.keepOriginals = s->warc->keepOriginals;
        o.asResponse = s->warc->asResponse;
        if (s->warc->recordLimit)
            o.recordLimit = s->warc->recordLimit;
        if (s->warc->level >= 0)
            o.level = s->warc->level;
        o.gzip = EndsWith(t.output, ".gz");
        ProgressContext pc = {s, &t, 0};
        o.progress = OnProgress;
        o.context = &pc;
        auto start = std::chrono::steady_clock::now();
        t.status = CleanWarcFile(&o, t.input.c_str(), t.output.c_str(), &t.report, &t.sysError);
        t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(s, t);
        s->done++;
        s->finished.notify_all();
    }
}

static void ShowProgress(WarcShared *s, std::chrono::steady_clock::time_point start)
{
    std::unique_lock<std::mutex> hold(s->lock);
    while (s->done < s->tasks->size()) {
        s->finished.wait_for(hold, std::chrono::milliseconds(250));
        if (s->done >= s->tasks->size())
            break;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char line[256];
        snprintf(line, sizeof line, "\r\033[K%zu/%zu archives, %lld records, %s read, %.0f records/s",
                 s->done.load(), s->tasks->size(), (long long)s->records.load(),
                 SizeText(s->bytesRead.load()).c_str(), seconds > 0 ? (double)s->records.load() / seconds : 0.0);
        WriteAllTo(2, line);
        s->progressShown = true;
    }
    if (s->progressShown)
        WriteAllTo(2, "\r\033[K");
}

int CleanWarcFiles(const std::vector<std::string> &inputs, const Call &call, const WarcCall &warc,
                   const char *version)
{
    std::vector<WarcTask> tasks(inputs.size());
    struct stat st;
    bool isFolder = stat(call.output, &st) == 0 && S_ISDIR(st.st_mode);
    bool toFolder = inputs.size() > 1 || isFolder;
    if (toFolder && !isFolder) {
        WriteAllTo(2, "webtrim: " + QuoteName(call.output) +
                          ": with several archives, -o names a folder, and there is none\n");
        return kExitStopped;
    }
    std::vector<std::string> taken;
    for (size_t i = 0; i < inputs.size(); i++) {
        tasks[i].input = inputs[i];
        if (!toFolder) {
            tasks[i].output = call.output;
            continue;
        }
        std::string folder = call.output;
        if (folder.back() != '/')
            folder += '/';
        tasks[i].output = folder + WarcOutputName(inputs[i], &taken);
    }
    WarcShared shared;
    shared.tasks = &tasks;
    shared.call = &call;
    shared.warc = &warc;
    shared.version = version;
    auto start = std::chrono::steady_clock::now();
    size_t jobs = std::min((size_t)std::max(call.jobs, 1), tasks.size());
    std::vector<std::thread> workers;
    for (size_t i = 1; i < jobs; i++)
        workers.emplace_back(Worker, &shared);
    std::thread progress;
    bool showProgress = isatty(2) && call.level != kLevelQuiet && !call.json;
    if (showProgress)
        progress = std::thread(ShowProgress, &shared, start);
    Worker(&shared);
    for (std::thread &w : workers)
        w.join();
    shared.finished.notify_all();
    if (showProgress)
        progress.join();
    int status = kExitCleaned;
    WarcTask total;
    memset(&total.report, 0, sizeof total.report);
    for (const WarcTask &t : tasks) {
        if (t.status != kWarcFileDone)
            status = kExitStopped;
        total.report.records += t.report.records;
        total.report.cleaned += t.report.cleaned;
    }
    if (!call.json && call.level != kLevelQuiet && tasks.size() > 1) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char line[256];
        snprintf(line, sizeof line, "webtrim: %zu archives, %lld records, %lld pages cleaned in %.1f s\n",
                 tasks.size(), (long long)total.report.records, (long long)total.report.cleaned, seconds);
        WriteAllTo(1, line);
    }
    return status;
}
