// The Linux command line: what its parts (main, pages, reports, messages,
// help) share.
#pragma once
#include <stdint.h>
#include <memory>
#include <string>
#include <vector>
#include "app/dispose.h"
#include "app/messages.h"
#include "app/options.h"
#include "app/result.h"
#include "platform/folder.h"

enum ExitStatus { kExitCleaned = 0, kExitStopped = 1, kExitUsage = 2 };

enum MessageLevelValue { kLevelQuiet, kLevelNormal, kLevelVerbose };

// Room for one message line or one problem of the settings store: more
// than a path and a text can take.
enum { kMessageLineSize = 8192 };

// A folder held open from the walk that found its pages to their cleaning,
// shared by those pages.
struct SharedFolder {
    HeldFolder held;
    SharedFolder() { held.open = false; }
    ~SharedFolder() { CloseHeldFolder(&held); }
    SharedFolder(const SharedFolder &) = delete;
    SharedFolder &operator=(const SharedFolder &) = delete;
};

// One name of the call's list of pages.
struct PageEntry {
    std::string name;                       // as the user gave it (or the walk made it); "-" is standard input
    std::shared_ptr<SharedFolder> folder;   // found by -r: its folder, held since the walk
    std::string entry;                      // and its name there
    bool known = false;                     // dev and ino hold the file's identity
    uint64_t dev = 0, ino = 0;
    std::string sameAs;                     // a second name of a file listed before: only said
    bool isFolder = false;                  // a folder named without -r: only said
};

// What the call asks of every page.
struct Call {
    bool dryRun = false;
    bool json = false;
    const char *output = nullptr;           // -o: a path, "-" for standard output
    int jobs = 1;
    int level = kLevelNormal;
    Settings settings;                      // the saved settings with the call's options over them
    CleanSwitches switches;
    DisposalTarget target;                  // where originals go, held for the whole call
    bool reportsToStderr = false;           // standard output carries a cleaned page
};

// ---- Messages and reports (messages.cpp)

// A name as the messages show it: as it is when it holds only bytes that
// need no quoting, else in the quotes and escapes a shell reads back (as
// coreutils quotes file names): 'a b', 'it'\''s', 'a'$'\n''b'.
std::string QuoteName(const std::string &name);

// "webtrim: NAME: text" for a text of the run, its lines joined and the
// system's reason after the first; no NAME part when `name` is empty.
std::string MessageLine(const std::string &name, const char *text, const char *detail, int sysError,
                        bool quoteName = true);

// A byte count for people: "812 bytes", "41.2 kB", "18.0 MB".
std::string SizeText(int64_t n);

// A JSON string: valid UTF-8 as it is (controls, quotes and backslashes
// escaped); a byte that is no part of valid UTF-8 as \udcXX, as Python's
// surrogateescape reads it back to the same byte.
std::string JsonString(const std::string &s);

// Writes all of `text` to the descriptor; false with errno on failure.
bool WriteAllTo(int fd, const std::string &text);

// ---- One page's report (report.cpp)

struct PageReport {
    const PageEntry *entry;
    PageResult result;
    bool inPlace;
    std::string err;                        // its messages, in the order given
};

// The lines of -v and -n for a page (empty when the level asks for none).
std::string DescribePage(const PageReport &p, const Call &call);
// One line of --json for a page.
std::string PageJson(const PageReport &p, const Call &call);

struct CallTotals {
    int pages = 0, cleaned = 0, alreadyClean = 0, refused = 0, failed = 0;
    int64_t bytesBefore = 0, bytesAfter = 0;
};
void AddToTotals(CallTotals *t, const PageResult &r);
// "288 pages: 281 cleaned, 41.2 MB → 18.0 MB; 7 already clean; 0 failed"
std::string SummaryLine(const CallTotals &t, const Call &call);
std::string SummaryJson(const CallTotals &t, const Call &call);

// ---- Cleaning the pages (pages.cpp)

// Cleans every page as the call asks, reports them in the order of the
// list, and ends with the summary; the exit status (0 or 1).
int CleanPages(const std::vector<PageEntry> &pages, Call &call);

// ---- Help (help.cpp)

void PrintHelp();
void PrintVersion();
