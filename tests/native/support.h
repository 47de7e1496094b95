// Helpers shared by the native tests.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <sys/types.h>
#include <string>
#include <utility>
#include <vector>
#include "clean/stream.h"
#include "app/options.h"

// Messages raised in this process, in order: text and MessageKind, and
// the system's error code that came with each.
extern std::vector<std::pair<std::string, unsigned>> Messages;
extern std::vector<int> MessageErrors;
extern int RunStartedCount;
void ClearMessages();

// A run in place as a front end starts it: the job for `page` made by
// PageJobFor under the switches of the options word `word`, its originals
// to the folder `folder` or, when the word says so, the trash (the target
// opened and closed around the run), its messages and its start recorded
// above. True when the page was cleaned or was clean already.
struct PageResult;
bool RunInPlace(const std::string &page, uint32_t word = kDefaultOptions, const std::string &folder = "",
                PageResult *result = nullptr);

// The disposal of the original `page` as a run does it, its warnings
// recorded above.
struct DisposalOutcome;
void DisposeForTest(const std::string &page, uint32_t word, const char *folder, DisposalOutcome *out);

// A stream over a fresh anonymous temporary file holding `content`,
// positioned at its start. Free with CloseStream.
ByteStream *MakeTempFile(const std::string &content = std::string());
void CloseStream(ByteStream *s);
// Everything in the stream from its start.
std::string ReadBack(ByteStream *s);

// A reader (StreamOpenReader) that hands out `text` at most `piece` bytes
// at a time, so that a stage's reads end at every kind of place.
struct Pieces {
    const std::string *text;
    size_t piece;
};
long ReadPieces(void *context, unsigned char *buf, size_t n, int64_t offset);

// A stage as the tests run it: switches, input, output.
typedef void (*PassProc)(const CleanSwitches *sw, ByteStream *input, ByteStream *output);
void ExtractionStage(const CleanSwitches *sw, ByteStream *input, ByteStream *output);
void WholeClean(const CleanSwitches *sw, ByteStream *input, ByteStream *output);

// Runs a stage over `input` in memory under the switches of the options
// word and gives back what it wrote.
std::string RunPass(PassProc pass, const std::string &input, uint32_t options);

// One case of a table: the page, the options word, and what the stage
// writes (for the extraction, empty means the page unchanged).
struct PageCase {
    const char *name;
    std::string input;
    uint32_t options;
    std::string expected;
};
void RunPageCases(PassProc pass, const std::vector<PageCase> &cases);

// A private folder, removed with its content when the test ends; in `base`
// (another file system, such as /dev/shm) when given.
struct TempDir {
    std::string path;
    explicit TempDir(const char *base = nullptr);
    ~TempDir();
    std::string File(const std::string &name) const { return path + "/" + name; }
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
bool Exists(const std::string &path);

// Where this test process's trash keeps trashed files.
std::string TrashFolder();

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string &path);

// The shared corpus of real pages (WEBTRIM_SHARED_CORPUS, or ../shared/corpus
// beside the source), or an empty list when it is not there.
std::vector<std::string> CorpusFiles();

// Runs the webtrim program with the given arguments and environment
// additions ("NAME=value"); gives back its exit status and standard error.
struct ChildResult {
    int status;
    std::string err;
};
struct ChildOptions {
    bool asNobody = false;          // run as an unprivileged user (root ignores modes)
    long long fileSizeLimit = -1;   // RLIMIT_FSIZE in bytes; SIGXFSZ is ignored
    std::vector<std::string> strace;    // when given: run under strace with these options
};
ChildResult RunWebtrim(const std::vector<std::string> &args,
                       const std::vector<std::string> &env = {},
                       const ChildOptions &options = ChildOptions());

// Starts webtrim without waiting for it; gives back its process id.
int StartWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                 const ChildOptions &options = ChildOptions());

// A run under strace, held at the entry of a system call by a delay
// injection, for the interleavings that must be exact. Start is false when
// there is no strace.
struct Traced {
    int tracer = -1, pid = -1, errFd = -1;
    bool Start(const std::vector<std::string> &args, const std::vector<std::string> &env,
               const ChildOptions &options);
    // Waits until the program stands at the entry of system call `nr`.
    bool HeldAt(long nr);
    // Lets strace go (the held call goes on) and waits for the program.
    ChildResult Finish();
};

// A page with something for every pass, of about n bytes.
std::string Page(size_t n);

// Pieces of pages for the main-part tests: s n times; n words of running
// text ("w0 w1 ... w6 w0 ..."); a paragraph of them; a run of n one-word links.
std::string Repeat(const std::string &s, int n);
std::string Text(int n);
std::string P(int n);
std::string Links(int n);

// A folder that an unprivileged user can use, with a home of its own
// (settings, trash) named by env.
struct SharedDir {
    TempDir dir;
    std::vector<std::string> env;
    SharedDir();
    std::string Make(const std::string &name, mode_t mode);
    // Folder mode: the originals go to `folder`; to the trash when empty.
    void SetTarget(const std::string &folder);
    std::string Trash() const { return dir.File("home/data/Trash/files"); }
    void EmptyTrash() const { system(("rm -rf '" + dir.File("home/data/Trash") + "'").c_str()); }
};

// The unprivileged user's ids, or false when there is none to switch to.
bool NobodyIds(unsigned *uid, unsigned *gid);
