// The pages of one call of the Linux command line and what the call asks
// of them: the list (made by main.cpp) and the cleaning (pages.cpp).
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

// Cleans every page as the call asks, reports them in the order of the
// list, and ends with the summary; the exit status (0 or 1).
int CleanPages(const std::vector<PageEntry> &pages, Call &call);
