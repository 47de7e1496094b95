// Helpers shared by the native tests.
#pragma once
#include <stdint.h>
#include <string>
#include <utility>
#include <vector>
#include "clean/stream.h"
#include "clean/switches.h"

// Messages raised in this process, in order: text and box style.
extern std::vector<std::pair<std::string, unsigned>> Messages;
extern int RunStartedCount;
void ClearMessages();

// A stream over a fresh anonymous temporary file holding `content`,
// positioned at its start. Free with CloseStream.
ByteStream *MakeTempFile(const std::string &content = std::string());
void CloseStream(ByteStream *s);
// Everything in the stream from its start.
std::string ReadBack(ByteStream *s);

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

// A private folder, removed with its content when the test ends.
struct TempDir {
    std::string path;
    TempDir();
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
};
ChildResult RunWebtrim(const std::vector<std::string> &args,
                       const std::vector<std::string> &env = {},
                       const ChildOptions &options = ChildOptions());

// Starts webtrim without waiting for it; gives back its process id.
int StartWebtrim(const std::vector<std::string> &args, const std::vector<std::string> &env = {});

// The unprivileged user's ids, or false when there is none to switch to.
bool NobodyIds(unsigned *uid, unsigned *gid);
