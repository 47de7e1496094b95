#include "app/options.h"
#include "tests/native/support.h"
#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <gtest/gtest.h>
#include "app/messages.h"
#include "app/run.h"
#include "clean/clean.h"
#include "platform/folder.h"

std::vector<std::pair<std::string, unsigned>> Messages;
std::vector<int> MessageErrors;
int RunStartedCount;

// The tests' message sink: it records instead of printing.
static void RecordMessage(void *, MessageKind kind, int id, const char *detail, int sysError)
{
    Messages.emplace_back(std::string(MessageText(kind, id)) + (detail ? detail : ""), kind);
    MessageErrors.push_back(sysError);
}

static void RecordStart(void *)
{
    RunStartedCount++;
}

static const RunCallbacks kRecorder = {nullptr, RecordMessage, RecordStart, nullptr};

static void OpenTarget(uint32_t word, const char *folder, DisposalTarget *target)
{
    OpenDisposalTarget((word & kOptRecycleBin) != 0, folder, target);
}

bool RunInPlace(const std::string &page, uint32_t word, const std::string &folder, PageResult *result)
{
    PageResult own;
    PageResult *r = result ? result : &own;
    DisposalTarget target;
    OpenTarget(word, folder.c_str(), &target);
    PageJob job = PageJobFor(page.c_str(), SwitchesFromWord(word), &target);
    job.callbacks = &kRecorder;
    CleanPageInPlace(&job, r);
    CloseDisposalTarget(&target);
    return r->outcome == kPageCleaned || r->outcome == kPageAlreadyClean;
}

void DisposeForTest(const std::string &page, uint32_t word, const char *folder, DisposalOutcome *out)
{
    DisposalTarget target;
    OpenTarget(word, folder, &target);
    if (target.folderMissing)
        RecordMessage(nullptr, kMessageWarning, kWarnFolderMissing, nullptr, 0);
    HeldFolder pageFolder;
    char name[kFolderPathSize];
    PageIdentity id;
    if (!OpenPageFolder(page.c_str(), &pageFolder, name, sizeof name) ||
        LookAtEntry(&pageFolder, name, &id) != kEntryFile)
        abort();
    DisposeOriginal(&target, &pageFolder, name, &id, out);
    for (int w = 0; w < kWarningCount; w++)
        if (out->warnings & (1u << w))
            RecordMessage(nullptr, kMessageWarning, w, nullptr, 0);
    CloseHeldFolder(&pageFolder);
    CloseDisposalTarget(&target);
}

void ClearMessages()
{
    Messages.clear();
    MessageErrors.clear();
    RunStartedCount = 0;
}

ByteStream *MakeTempFile(const std::string &content)
{
    ByteStream *s = new ByteStream;
    if (!StreamCreateTemp(s))
        abort();
    StreamWrite(s, content.data(), content.size());
    StreamRewind(s);
    return s;
}

void CloseStream(ByteStream *s)
{
    StreamClose(s);
    delete s;
}

std::string ReadBack(ByteStream *s)
{
    StreamRewind(s);
    std::string out;
    const unsigned char *data;
    size_t n;
    while ((n = StreamPeek(s, &data)) > 0) {
        out.append((const char *)data, n);
        StreamSkip(s, n);
    }
    return out;
}

void ExtractionStage(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    ExtractMainPart(sw, input, output, kNoMemoryLimit);
}

void WholeClean(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    CleanStream(sw, input, output, nullptr);
}

std::string RunPass(PassProc pass, const std::string &input, uint32_t options)
{
    CleanSwitches sw = SwitchesFromWord(options);
    ByteStream *in = new ByteStream, *out = new ByteStream;
    StreamOpenMemory(in, input.data(), input.size());
    StreamOpenBuffer(out);
    pass(&sw, in, out);
    EXPECT_FALSE(StreamReadFailed(in) || StreamWriteFailed(out));
    std::string result;
    if (StreamMemorySize(out) > 0)
        result.assign((const char *)StreamMemoryData(out), StreamMemorySize(out));
    CloseStream(in);
    CloseStream(out);
    return result;
}

void RunPageCases(PassProc pass, const std::vector<PageCase> &cases)
{
    for (const PageCase &c : cases) {
        const std::string &expected =
            c.expected.empty() && pass == ExtractionStage ? c.input : c.expected;
        EXPECT_EQ(expected, RunPass(pass, c.input, c.options)) << c.name;
    }
}

static void RemoveTree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR *d = opendir(path.c_str())) {
            while (struct dirent *e = readdir(d)) {
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                    RemoveTree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// Every test process gets a private home: settings, trash and temporary
// files of a run land there, never in the real user's folders. GLib reads
// the XDG folders once per process, so this is set before anything runs.
static std::string PrivateHome;

// A new private folder in the temporary folder, named from `prefix`.
static std::string MakeTempFolder(const char *prefix, const char *base = nullptr)
{
    if (!base)
        base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data()))
        abort();
    return buf.data();
}

static void RemovePrivateHome()
{
    RemoveTree(PrivateHome);
}

static bool MakePrivateHome()
{
    PrivateHome = MakeTempFolder("webtrim-home");
    mkdir((PrivateHome + "/data").c_str(), 0700);
    mkdir((PrivateHome + "/config").c_str(), 0700);
    setenv("HOME", PrivateHome.c_str(), 1);
    setenv("XDG_DATA_HOME", (PrivateHome + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (PrivateHome + "/config").c_str(), 1);
    atexit(RemovePrivateHome);
    return true;
}

static const bool kPrivateHomeMade = MakePrivateHome();

std::string TrashFolder()
{
    (void)kPrivateHomeMade;
    return PrivateHome + "/data/Trash/files";
}

TempDir::TempDir(const char *base) : path(MakeTempFolder("webtrim-test", base))
{
}

TempDir::~TempDir()
{
    RemoveTree(path);
}

std::string ReadFile(const std::string &path)
{
    std::string out;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, (size_t)n);
    close(fd);
    return out;
}

void WriteFile(const std::string &path, const std::string &content)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        abort();
    if (write(fd, content.data(), content.size()) != (ssize_t)content.size())
        abort();
    close(fd);
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (struct dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> files;
    // A work tree elsewhere names the corpus as fuzz/run.sh takes it.
    const char *shared = getenv("WEBTRIM_SHARED_CORPUS");
    std::string dir = shared && *shared ? shared : std::string(WEBTRIM_SOURCE_DIR) + "/../shared/corpus";
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".htm") == 0)
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool NobodyIds(unsigned *uid, unsigned *gid)
{
    struct passwd *pw = getpwnam("nobody");
    if (!pw || geteuid() != 0)
        return false;
    *uid = pw->pw_uid;
    *gid = pw->pw_gid;
    return true;
}

// In the child, after fork: environment, limits, user, then webtrim.
static void ExecWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env,
                        const ChildOptions &options)
{
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    for (const std::string &e : env)
        putenv(strdup(e.c_str()));
    if (options.fileSizeLimit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {(rlim_t)options.fileSizeLimit, (rlim_t)options.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &rl);
    }
    unsigned uid, gid;
    if (options.asNobody && NobodyIds(&uid, &gid)) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(126);
    }
    std::vector<char *> argv;
    // A preloaded shim comes before the sanitizer's runtime; LeakSanitizer
    // cannot stop the world under a tracer, and needs whole stacks for its
    // suppressions.
    putenv((char *)(options.strace.empty()
                        ? "ASAN_OPTIONS=verify_asan_link_order=0:fast_unwind_on_malloc=0"
                        : "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"));
    putenv((char *)"LSAN_OPTIONS=print_suppressions=0:suppressions=" WEBTRIM_SOURCE_DIR
                    "/tests/native/lsan.supp");
    if (!options.strace.empty()) {
        for (const char *a : {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null"})
            argv.push_back((char *)a);
        for (const std::string &a : options.strace)
            argv.push_back((char *)a.c_str());
    }
    argv.push_back((char *)WEBTRIM_EXE);
    for (const std::string &a : args)
        argv.push_back((char *)a.c_str());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int StartWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env,
                 const ChildOptions &options)
{
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        ExecWebtrim(args, env, options);
    }
    return pid;
}

static int StatusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts webtrim with its standard error on a pipe; *errFd reads it.
static pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
                   const ChildOptions &options, int *errFd)
{
    int errPipe[2];
    if (pipe(errPipe) != 0)
        abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        close(errPipe[1]);
        ExecWebtrim(args, env, options);
    }
    close(errPipe[1]);
    *errFd = errPipe[0];
    return pid;
}

static std::string ReadAll(int fd)
{
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, (size_t)n);
    close(fd);
    return out;
}

bool Traced::Start(const std::vector<std::string> &args, const std::vector<std::string> &env,
                   const ChildOptions &options)
{
    if (access("/usr/bin/strace", X_OK) != 0)
        return false;
    // The program outlives strace when it lets go: it comes back to us.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    tracer = Spawn(args, env, options, &errFd);
    std::string children = "/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) +
                           "/children";
    // strace forks short-lived probes of its own first: the program is the
    // child that runs webtrim.
    for (int i = 0; i < 10000 && pid <= 0; i++) {
        int child = atoi(ReadFile(children).c_str());
        if (child > 0 && ReadFile("/proc/" + std::to_string(child) + "/comm") == "webtrim\n")
            pid = child;
        else
            usleep(1000);
    }
    return pid > 0;
}

bool Traced::HeldAt(long nr)
{
    std::string proc = "/proc/" + std::to_string(pid);
    for (int i = 0; i < 30000; i++) {
        std::string stat = ReadFile(proc + "/stat");
        size_t paren = stat.rfind(')');
        if (paren == std::string::npos || stat.compare(paren, 4, ") Z ") == 0)
            return false;                   // gone without reaching it
        // Held, not passing through: still there after 50 ms (a held call
        // waits for Finish; any other returns within microseconds).
        std::string call = ReadFile(proc + "/syscall");
        if (!call.empty() && isdigit((unsigned char)call[0]) && atol(call.c_str()) == nr) {
            usleep(50000);
            if (ReadFile(proc + "/syscall") == call)
                return true;
        }
        usleep(1000);
    }
    return false;
}

ChildResult Traced::Finish()
{
    int status = 0, traced = 0;
    // strace takes no signal while it delays, but its end lets the program go.
    kill(tracer, SIGKILL);
    waitpid(tracer, &status, 0);
    if (waitpid(pid, &traced, 0) == pid)
        status = traced;
    return {StatusOf(status), ReadAll(errFd)};
}

std::string Repeat(const std::string &s, int n)
{
    std::string r;
    r.reserve(s.size() * (size_t)n);
    for (int i = 0; i < n; i++)
        r += s;
    return r;
}

std::string Text(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += (i ? " w" : "w") + std::to_string(i % 7);
    return s;
}

std::string P(int n)
{
    return "<p>" + Text(n) + "</p>";
}

std::string Links(int n)
{
    return Repeat("<a href=/x>go</a> ", n);
}

std::string Page(size_t n)
{
    std::string s = "<html><head><style>x{}</style></head><body><table><tr><td>";
    while (s.size() < n)
        s += "word <b style=\"c:d\">more</b> <!-- c --> text ";
    return s + "</td></tr></table></body></html>";
}

SharedDir::SharedDir()
{
    // Open to everyone but sticky, as /tmp: root's run takes a trash there
    // for its own, since nobody else can swap a folder on the way to it.
    chmod(dir.path.c_str(), 01777);
    std::string home = dir.File("home");
    for (const char *sub : {"", "/config", "/config/webtrim", "/data"}) {
        mkdir((home + sub).c_str(), 01777);
        chmod((home + sub).c_str(), 01777);
    }
    env = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
           "XDG_DATA_HOME=" + home + "/data", "TMPDIR=" + dir.path};
}

std::string SharedDir::Make(const std::string &name, mode_t mode)
{
    std::string path = dir.File(name);
    mkdir(path.c_str(), mode);
    chmod(path.c_str(), mode);
    return path;
}

void SharedDir::SetTarget(const std::string &folder)
{
    std::string ini = dir.File("home/config/webtrim/webtrim.ini");
    std::string word = folder.empty() ? "0x100013BF" : "0x000013BF";
    WriteFile(ini, "[Webtrim]\nw0=" + word + "\nw1=" + folder + "\n");
    chmod(ini.c_str(), 0666);
}

ChildResult RunWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env,
                       const ChildOptions &options)
{
    int errFd;
    pid_t pid = Spawn(args, env, options, &errFd);
    ChildResult r;
    r.err = ReadAll(errFd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = StatusOf(status);
    return r;
}

long ReadPieces(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    const Pieces *p = (const Pieces *)context;
    if ((uint64_t)offset >= p->text->size())
        return 0;
    size_t k = n < p->piece ? n : p->piece;
    if (k > p->text->size() - (size_t)offset)
        k = p->text->size() - (size_t)offset;
    memcpy(buf, p->text->data() + offset, k);
    return (long)k;
}
