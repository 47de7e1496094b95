// Entry of the Linux program: webtrim [OPTION]... PAGE...
// Each argument is one page. The options of the call are applied over the
// saved settings in the order given; then the list of pages is made whole
// (folders walked, --files-from read, names of one file met twice dropped)
// before the first page is cleaned.
#include <dirent.h>
#include <errno.h>
#include <getopt.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include "app/cli_posix.h"
#include "app/options.h"
#include "app/run.h"
#include "app/settings.h"
#include "app/switches.h"

enum ExitStatus { kExitCleaned = 0, kExitStopped = 1, kExitUsage = 2 };

// One change to the settings, kept in command-line order.
struct SettingChange {
    enum Kind { kSet, kClear, kDefaults, kMoveTo } kind;
    uint32_t mask;
    std::string folder;
};

struct Call {
    std::vector<SettingChange> changes;
    std::vector<std::string> pages;
    std::vector<std::string> filesFrom;
    bool nulSeparated = false;
    bool recursive = false;
    bool save = false;
    bool showSettings = false;
    CallOptions run;
};

enum {
    kOptHelp = 'h', kOptJobs = 'j', kOptDryRun = 'n', kOptOutput = 'o', kOptQuiet = 'q',
    kOptRecursive = 'r', kOptVerbose = 'v', kOptNull = '0',
    kLongOnly = 256, kOptVersion, kOptRemove, kOptKeep, kOptFilesFrom, kOptMoveTo, kOptSave,
    kOptSettings, kOptDefaults, kOptSwitchOn, kOptSwitchOff = kOptSwitchOn + 32,
};

static void Usage(const char *problem, const char *what = 0)
{
    if (problem)
        fprintf(stderr, what ? "webtrim: %s: %s\n" : "webtrim: %s\n", problem, what);
    fprintf(stderr, "Try 'webtrim --help' for more information.\n");
    exit(kExitUsage);
}

// The folder as the settings keep it: absolute, so that it means the same
// folder in a later call made elsewhere.
static std::string AbsoluteFolder(const char *folder)
{
    if (folder[0] == '/')
        return folder;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return folder;
    std::string s = cwd;
    if (s.back() != '/')
        s += '/';
    if (strcmp(folder, ".") != 0)
        s += folder;
    else if (s.size() > 1)
        s.pop_back();
    return s;
}

static void ParseArguments(int argc, char **argv, Call *call)
{
    std::vector<struct option> longs = {
        {"help", no_argument, 0, kOptHelp},
        {"version", no_argument, 0, kOptVersion},
        {"quiet", no_argument, 0, kOptQuiet},
        {"verbose", no_argument, 0, kOptVerbose},
        {"dry-run", no_argument, 0, kOptDryRun},
        {"recursive", no_argument, 0, kOptRecursive},
        {"jobs", required_argument, 0, kOptJobs},
        {"output", required_argument, 0, kOptOutput},
        {"files-from", required_argument, 0, kOptFilesFrom},
        {"null", no_argument, 0, kOptNull},
        {"remove", required_argument, 0, kOptRemove},
        {"keep", required_argument, 0, kOptKeep},
        {"move-to", required_argument, 0, kOptMoveTo},
        {"save", no_argument, 0, kOptSave},
        {"settings", no_argument, 0, kOptSettings},
        {"defaults", no_argument, 0, kOptDefaults},
    };
    // The named switches; --move-to (the off side of --trash) takes a folder.
    for (int i = 0; i < kNamedSwitchCount; i++) {
        longs.push_back({kNamedSwitches[i].onOption, no_argument, 0, kOptSwitchOn + i});
        if (kNamedSwitches[i].mask != kOptRecycleBin)
            longs.push_back({kNamedSwitches[i].offOption, no_argument, 0, kOptSwitchOff + i});
    }
    longs.push_back({0, 0, 0, 0});

    argv[0] = (char *)"webtrim";     // getopt_long names the program so
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    call->run.jobs = processors > 0 ? (int)processors : 1;
    int c;
    while ((c = getopt_long(argc, argv, "hqvnrj:o:0", longs.data(), nullptr)) != -1) {
        switch (c) {
        case kOptHelp:
            PrintHelp();
            exit(kExitCleaned);
        case kOptVersion:
            PrintVersion();
            exit(kExitCleaned);
        case kOptQuiet:
            MessageLevel = kLevelQuiet;
            break;
        case kOptVerbose:
            MessageLevel = kLevelVerbose;
            break;
        case kOptDryRun:
            call->run.dryRun = true;
            break;
        case kOptRecursive:
            call->recursive = true;
            break;
        case kOptJobs: {
            char *end;
            errno = 0;
            long n = strtol(optarg, &end, 10);
            if (errno || *end || end == optarg || n < 0 || n > 1024)
                Usage("invalid number of jobs", optarg);
            if (n > 0)
                call->run.jobs = (int)n;
            break;
        }
        case kOptOutput:
            if (!*optarg)
                Usage("--output needs a file name");
            call->run.output = optarg;
            break;
        case kOptFilesFrom:
            call->filesFrom.push_back(optarg);
            break;
        case kOptNull:
            call->nulSeparated = true;
            break;
        case kOptRemove:
        case kOptKeep: {
            uint32_t mask;
            const char *bad;
            int badLength;
            if (!ParseElementList(optarg, &mask, &bad, &badLength)) {
                std::string name(bad, (size_t)badLength);
                Usage("unknown kind of element (see --help)", name.empty() ? "''" : name.c_str());
            }
            call->changes.push_back({c == kOptRemove ? SettingChange::kSet : SettingChange::kClear,
                                     mask, ""});
            break;
        }
        case kOptMoveTo: {
            if (!*optarg)
                Usage("--move-to needs a folder");
            std::string folder = AbsoluteFolder(optarg);
            if (folder.size() >= kTargetFolderSize)
                Usage("the folder's path is longer than 259 bytes", folder.c_str());
            call->changes.push_back({SettingChange::kMoveTo, kOptRecycleBin, folder});
            break;
        }
        case kOptSave:
            call->save = true;
            break;
        case kOptSettings:
            call->showSettings = true;
            break;
        case kOptDefaults:
            call->changes.push_back({SettingChange::kDefaults, 0, ""});
            break;
        default:
            if (c >= kOptSwitchOn && c < kOptSwitchOn + kNamedSwitchCount) {
                call->changes.push_back({SettingChange::kSet, kNamedSwitches[c - kOptSwitchOn].mask, ""});
                break;
            }
            if (c >= kOptSwitchOff && c < kOptSwitchOff + kNamedSwitchCount) {
                call->changes.push_back({SettingChange::kClear, kNamedSwitches[c - kOptSwitchOff].mask, ""});
                break;
            }
            Usage(nullptr);     // getopt_long has said what was wrong
        }
    }
    for (int i = optind; i < argc; i++)
        call->pages.push_back(argv[i]);
}

static void ApplyChanges(const std::vector<SettingChange> &changes)
{
    for (const SettingChange &ch : changes) {
        switch (ch.kind) {
        case SettingChange::kSet:
            CleanOptions |= ch.mask;
            break;
        case SettingChange::kClear:
            CleanOptions &= ~ch.mask;
            break;
        case SettingChange::kDefaults:
            // As the window's Default button: bit 13 and the other switches
            // take their defaults; the target and the colour scheme stay.
            ResetOptions();
            CleanOptions &= ~(uint32_t)kOptAnyLayout;
            break;
        case SettingChange::kMoveTo:
            CleanOptions &= ~ch.mask;
            memset(TargetFolder, 0, sizeof TargetFolder);
            memcpy(TargetFolder, ch.folder.data(), ch.folder.size());
            break;
        }
    }
}

static void PrintSettings()
{
    char *path = SettingsFilePath();
    printf("%-17s %s\n", "settings file", path);
    free(path);
    for (int i = 0; i < kElementKindCount; i++)
        printf("%-17s %s\n", kElementKinds[i].name, CleanOptions & kElementKinds[i].mask ? "on" : "off");
    for (int i = 0; i < kNamedSwitchCount; i++)
        printf("%-17s %s\n", kNamedSwitches[i].name, CleanOptions & kNamedSwitches[i].mask ? "on" : "off");
    printf("%-17s %s\n", "move-to", TargetFolder[0] ? TargetFolder : "(none)");
    printf("%-17s %s\n", "originals go to",
           (CleanOptions & kOptRecycleBin) || !TargetFolder[0] ? "the trash" : TargetFolder);
    printf("%-17s 0x%08X\n", "w0", CleanOptions);
    fflush(stdout);
}

// Stores the call's settings and reads them back: the store says nothing
// when it fails.
static bool SaveAndCheck()
{
    uint32_t options = CleanOptions;
    char folder[kTargetFolderSize];
    memcpy(folder, TargetFolder, sizeof folder);
    SaveSettings();
    LoadSettingsWithoutWriting();
    bool same = CleanOptions == options && strcmp(TargetFolder, folder) == 0;
    CleanOptions = options;
    memcpy(TargetFolder, folder, sizeof folder);
    if (!same) {
        char *path = SettingsFilePath();
        std::string text = std::string("Cannot save the settings to ") + path;
        free(path);
        CommandLineError(text.c_str());
    }
    return same;
}

// ---- The list of pages

static bool ReadNameList(const std::string &from, bool nul, std::vector<std::string> *out)
{
    FILE *f = from == "-" ? stdin : fopen(from.c_str(), "rb");
    if (!f)
        return false;
    std::string name;
    int ch;
    int end = nul ? 0 : '\n';
    while ((ch = getc(f)) != EOF) {
        if (ch == end) {
            if (!name.empty())
                out->push_back(name);
            name.clear();
        } else {
            name += (char)ch;
        }
    }
    if (!name.empty())
        out->push_back(name);
    bool ok = !ferror(f);
    if (f != stdin)
        fclose(f);
    return ok;
}

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator<(const FolderId &o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

// The folders that a walk skips: the one originals go to, and the trash.
static std::set<FolderId> SkippedFolders()
{
    std::set<FolderId> skip;
    std::vector<std::string> folders;
    if (TargetFolder[0])
        folders.push_back(TargetFolder);
    const char *data = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    if (data && data[0] == '/')
        folders.push_back(std::string(data) + "/Trash");
    else if (home && *home)
        folders.push_back(std::string(home) + "/.local/share/Trash");
    for (const std::string &f : folders) {
        struct stat st;
        if (stat(f.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            skip.insert({st.st_dev, st.st_ino});
    }
    return skip;
}

// The trash folders of other file systems: .Trash and .Trash-UID.
static bool IsTrashName(const char *name)
{
    if (strcmp(name, ".Trash") == 0)
        return true;
    if (strncmp(name, ".Trash-", 7) != 0 || !name[7])
        return false;
    return strspn(name + 7, "0123456789") == strlen(name + 7);
}

static bool IsSkipped(const std::set<FolderId> &skip, const struct stat &st)
{
    return skip.count({st.st_dev, st.st_ino}) != 0;
}

// Adds the pages below `root`, folder by folder in name order.
static bool WalkFolder(const std::string &root, const std::set<FolderId> &skip,
                       std::vector<std::string> *out)
{
    bool ok = true;
    std::vector<std::string> stack = {root};
    while (!stack.empty()) {
        std::string folder = stack.back();
        stack.pop_back();
        DIR *d = opendir(folder.c_str());
        if (!d) {
            PageContext page = {folder.c_str(), false, 0};
            CurrentPage = &page;
            CommandLineError("Cannot open this folder", errno);
            CurrentPage = nullptr;
            ok = false;
            continue;
        }
        std::vector<std::string> names;
        while (struct dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        std::string prefix = folder.back() == '/' ? folder : folder + "/";
        std::vector<std::string> subfolders;
        for (const std::string &name : names) {
            std::string path = prefix + name;
            struct stat st;
            if (lstat(path.c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                if (!IsTrashName(name.c_str()) && !IsSkipped(skip, st))
                    subfolders.push_back(path);
                continue;
            }
            // A link to a file is cleaned (at its target); a link to a
            // folder is not followed.
            if (S_ISLNK(st.st_mode) && (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)))
                continue;
            if (S_ISREG(st.st_mode) && IsPageName(path.c_str()))
                out->push_back(path);
        }
        stack.insert(stack.end(), subfolders.rbegin(), subfolders.rend());
    }
    return ok;
}

// The pages of the call in order, each file once. Names that cannot be
// looked at stay in the list, so that their run says why.
static bool MakePageList(const Call &call, std::vector<PageEntry> *pages)
{
    std::vector<std::string> names;
    bool ok = true;
    std::set<FolderId> skip;
    if (call.recursive)
        skip = SkippedFolders();
    std::vector<std::string> given = call.pages;
    for (const std::string &from : call.filesFrom) {
        if (!ReadNameList(from, call.nulSeparated, &given)) {
            PageContext page = {from.c_str(), false, 0};
            CurrentPage = &page;
            CommandLineError("Cannot read this list of pages", errno);
            CurrentPage = nullptr;
            exit(kExitUsage);
        }
    }
    for (const std::string &name : given) {
        struct stat st;
        if (call.recursive && name != "-" && stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (IsSkipped(skip, st)) {
                PageContext page = {name.c_str(), false, 0};
                CurrentPage = &page;
                CommandLineWarning("Skipped: originals are moved into this folder.");
                CurrentPage = nullptr;
                continue;
            }
            ok = WalkFolder(name, skip, &names) && ok;
        } else {
            names.push_back(name);
        }
    }
    std::set<FolderId> seen;
    std::set<std::string> seenNames;
    for (const std::string &name : names) {
        PageEntry e;
        e.name = name;
        struct stat st;
        int got = name == "-" ? fstat(0, &st) : stat(name.c_str(), &st);
        if (got == 0) {
            if (!seen.insert({st.st_dev, st.st_ino}).second)
                continue;
            e.known = true;
            e.dev = st.st_dev;
            e.ino = st.st_ino;
        } else if (!seenNames.insert(name).second) {
            continue;
        }
        pages->push_back(e);
    }
    return ok;
}

int main(int argc, char **argv)
{
    Call call;
    ParseArguments(argc, argv, &call);

    bool readsStdin = std::find(call.filesFrom.begin(), call.filesFrom.end(), "-") != call.filesFrom.end();
    bool stdinPage = std::find(call.pages.begin(), call.pages.end(), "-") != call.pages.end();
    if (readsStdin && stdinPage)
        Usage("standard input cannot hold both a page and the list of pages");
    if (call.pages.empty() && call.filesFrom.empty() && !call.save && !call.showSettings)
        Usage("no page named");

    if (call.run.dryRun)
        LoadSettingsWithoutWriting();
    else
        LoadSettings();
    ApplyChanges(call.changes);

    int status = kExitCleaned;
    if (call.save) {
        if (call.run.dryRun) {
            char *path = SettingsFilePath();
            if (MessageLevel != kLevelQuiet)
                printf("the settings would be saved to %s\n", path);
            free(path);
        } else if (!SaveAndCheck()) {
            status = kExitStopped;
        }
    }
    if (call.showSettings)
        PrintSettings();
    if (call.pages.empty() && call.filesFrom.empty())
        return status;

    std::vector<PageEntry> pages;
    if (!MakePageList(call, &pages))
        status = kExitStopped;

    const char *output = call.run.output;
    if (output) {
        if (pages.size() != 1)
            Usage("--output takes exactly one page");
        struct stat st;
        const PageEntry &page = pages[0];
        if (strcmp(output, "-") != 0 &&
            (output == page.name ||
             (page.known && stat(output, &st) == 0 && st.st_dev == page.dev && st.st_ino == page.ino)))
            Usage(page.name.c_str(), "the output is the page itself; leave out -o to clean it in place");
    }
    ReportToStderr = (output && strcmp(output, "-") == 0) ||
                     (!output && std::any_of(pages.begin(), pages.end(),
                                             [](const PageEntry &e) { return e.name == "-"; }));
    if (CleanPages(pages, call.run) != 0)
        status = kExitStopped;
    return status;
}
