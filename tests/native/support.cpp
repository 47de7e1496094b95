#include "tests/native/support.h"
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <gtest/gtest.h>
#include "clean/clean.h"
#include "clean/fs.h"
#include "clean/report.h"

std::vector<std::pair<std::string, unsigned>> Messages;
int RunStartedCount;

// The test build's message sink: it records instead of printing.
void ShowMessage(const char *text, unsigned style)
{
    Messages.emplace_back(text, style);
}

void NotifyRunStarted()
{
    RunStartedCount++;
}

void ClearMessages()
{
    Messages.clear();
    RunStartedCount = 0;
}

ByteStream *MakeTempFile(const std::string &content)
{
    ByteStream *s = new ByteStream;
    if (!CreateTempStream(s))
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
static std::string MakeTempFolder(const char *prefix)
{
    const char *base = getenv("TMPDIR");
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

TempDir::TempDir() : path(MakeTempFolder("webtrim-test"))
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
    argv.push_back((char *)WEBTRIM_EXE);
    for (const std::string &a : args)
        argv.push_back((char *)a.c_str());
    argv.push_back(nullptr);
    execv(WEBTRIM_EXE, argv.data());
    _exit(127);
}

int StartWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        ExecWebtrim(args, env, ChildOptions());
    }
    return pid;
}

ChildResult RunWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env,
                       const ChildOptions &options)
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
    ChildResult r;
    char buf[4096];
    ssize_t n;
    while ((n = read(errPipe[0], buf, sizeof buf)) > 0)
        r.err.append(buf, (size_t)n);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}
