// The pages of one call of the Linux command line and what the call asks
// of them: the list (list.cpp) and the cleaning (pages.cpp).
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

// A folder found by -r: where it lies in the tree the walk read, what it
// is, and its descriptor while it is held. The folders named on the
// command line are held for the whole call; of the others at most
// kHeldFolders are held at once, besides those whose pages are being
// cleaned: any other is opened again when a page of it comes, from its
// nearest held ancestor, name by name, each step checked to be the folder
// the walk found (list.cpp).
struct WalkFolder {
    std::shared_ptr<WalkFolder> parent;     // null: named on the command line
    std::string name;                       // its name in `parent`
    PageIdentity id;                        // volume and file, as the walk found it
    HeldFolder held;                        // open while held
    int users = 0;                          // pages of it under way
    uint64_t lastUse = 0;                   // when it was last let go of
    bool hasPages = false;
    WalkFolder() { held.open = false; }
    ~WalkFolder() { CloseHeldFolder(&held); }
    WalkFolder(const WalkFolder &) = delete;
    WalkFolder &operator=(const WalkFolder &) = delete;
};

enum { kHeldFolders = 64 };

// The folder of a page found by -r, held until LetGoOfFolder: null (with
// errno; ESTALE when another folder took a name on its way) when it cannot
// be opened as the folder the walk found. Safe from any thread.
const HeldFolder *TakeFolder(WalkFolder *folder);
void LetGoOfFolder(WalkFolder *folder);

// One name of the call's list of pages.
struct PageEntry {
    std::string name;                       // as the user gave it (or the walk made it); "-" is standard input
    std::shared_ptr<WalkFolder> folder;     // found by -r: its folder
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
    const CompanionNeighbours *neighbours = nullptr;    // what each folder's pages reach, read once
};

// Options that make the list rather than ask something of each page.
struct ListOptions {
    std::vector<std::string> pages;         // as given on the command line
    std::vector<std::string> filesFrom;     // --files-from, "-" for standard input
    bool nulSeparated = false;
    bool recursive = false;
};

// The pages of the call in order: the names given and read, folders walked
// with -r. False when something could not be listed (it was said).
bool MakePageList(const ListOptions &options, const Call &call, std::vector<PageEntry> *pages);

// Cleans every page as the call asks, reports them in the order of the
// list, and ends with the summary; the exit status (0 or 1).
int CleanPages(const std::vector<PageEntry> &pages, Call &call);
