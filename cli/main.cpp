// Entry of the Linux program: webtrim [OPTION]... PAGE...
// Each argument is one page. The options of the call are applied over the
// saved settings in the order given; then the list of pages is made whole
// (folders walked, --files-from read, names of one file met twice noted:
// list.cpp) before the first page is cleaned.
#include <errno.h>
#include <getopt.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <string>
#include <vector>
#include "app/run.h"
#include "app/settings.h"
#include "cli/help.h"
#include "cli/messages.h"
#include "cli/pages.h"
#include "cli/output.h"
#include "cli/warc.h"

// One change to the settings, kept in command-line order.
struct SettingChange {
    enum Kind { kSet, kClear, kDefaults, kMoveTo } kind;
    uint32_t mask;
    std::string folder;
};

struct Arguments {
    std::vector<SettingChange> changes;
    ListOptions list;
    bool save = false;
    bool showSettings = false;
    bool warc = false;                  // the names are web archives
    WarcCall warcCall;
    Call call;
};

enum {
    kOptHelp = 'h', kOptJobs = 'j', kOptDryRun = 'n', kOptOutput = 'o', kOptQuiet = 'q',
    kOptRecursive = 'r', kOptVerbose = 'v', kOptNull = '0', kOptKeepTimes = 'p',
    kLongOnly = 256, kOptVersion, kOptRemove, kOptKeep, kOptFilesFrom, kOptMoveTo, kOptSave,
    kOptSettings, kOptDefaults, kOptJson, kOptWarc, kOptWarcKeepOriginals, kOptWarcResponse,
    kOptRecordLimit, kOptWarcLevel, kOptSwitchOn, kOptSwitchOff = kOptSwitchOn + 32,
};

enum { kMaxJobs = 1024 };

[[noreturn]] static void Usage(const char *problem, const char *what = 0)
{
    if (problem)
        fprintf(stderr, what ? "webtrim: %s: %s\n" : "webtrim: %s\n", problem, what);
    fprintf(stderr, "Try 'webtrim --help' for more information.\n");
    exit(kExitUsage);
}

// "~" and "~user" at the start of a folder given after '=', where the shell
// leaves them as they are.
static std::string ExpandTilde(const std::string &folder)
{
    if (folder.empty() || folder[0] != '~')
        return folder;
    size_t slash = folder.find('/');
    std::string user = folder.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? "" : folder.substr(slash);
    const char *home = nullptr;
    if (user.empty()) {
        home = getenv("HOME");
        if (!home || !*home) {
            struct passwd *pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
    } else {
        struct passwd *pw = getpwnam(user.c_str());
        home = pw ? pw->pw_dir : nullptr;
    }
    return home ? std::string(home) + rest : folder;
}

// The folder as the settings keep it: absolute, so that it means the same
// folder in a later call made elsewhere.
static std::string AbsoluteFolder(const std::string &given)
{
    std::string folder = ExpandTilde(given);
    if (folder[0] == '/')
        return folder;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return folder;
    std::string s = cwd;
    if (s.back() != '/')
        s += '/';
    if (folder != ".")
        s += folder;
    else if (s.size() > 1)
        s.pop_back();
    return s;
}

// The number of single-byte edits that turn a into b.
static size_t EditDistance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

[[noreturn]] static void UnknownKind(const std::string &name)
{
    enum { kNearEnough = 3 };           // edits: suggest only what is near
    std::string list, best;
    size_t bestDistance = kNearEnough;
    for (int i = 0; i < kElementKindCount; i++) {
        list += std::string(i ? ", " : "") + kElementKinds[i].name;
        size_t d = EditDistance(name, kElementKinds[i].name);
        if (d < bestDistance) {
            bestDistance = d;
            best = kElementKinds[i].name;
        }
    }
    std::string text = "unknown kind of element " + QuoteName(name.empty() ? "''" : name);
    if (name.empty())
        text = "unknown kind of element ''";
    if (!best.empty())
        text += "; did you mean " + best + "?";
    fprintf(stderr, "webtrim: %s\nKinds: %s, all\n", text.c_str(), list.c_str());
    Usage(nullptr);
}

static void ParseArguments(int argc, char **argv, Arguments *args)
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
        {"json", no_argument, 0, kOptJson},
        {"remove", required_argument, 0, kOptRemove},
        {"keep", required_argument, 0, kOptKeep},
        {"move-to", required_argument, 0, kOptMoveTo},
        {"save", no_argument, 0, kOptSave},
        {"settings", no_argument, 0, kOptSettings},
        {"defaults", no_argument, 0, kOptDefaults},
        {"warc", no_argument, 0, kOptWarc},
        {"warc-keep-originals", no_argument, 0, kOptWarcKeepOriginals},
        {"warc-response", no_argument, 0, kOptWarcResponse},
        {"record-limit", required_argument, 0, kOptRecordLimit},
        {"warc-level", required_argument, 0, kOptWarcLevel},
    };
    // The named switches; --move-to (the off side of --trash) takes a folder.
    for (int i = 0; i < kNamedSwitchCount; i++) {
        longs.push_back({kNamedSwitches[i].onOption, no_argument, 0, kOptSwitchOn + i});
        if (kNamedSwitches[i].mask != kOptRecycleBin)
            longs.push_back({kNamedSwitches[i].offOption, no_argument, 0, kOptSwitchOff + i});
    }
    longs.push_back({0, 0, 0, 0});

    argv[0] = (char *)"webtrim";     // getopt_long names the program so
    Call *call = &args->call;
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    call->jobs = processors > 0 ? (int)processors : 1;
    int c;
    while ((c = getopt_long(argc, argv, "hqvnrpj:o:0", longs.data(), nullptr)) != -1) {
        switch (c) {
        case kOptHelp:
            PrintHelp();
            exit(kExitCleaned);
        case kOptVersion:
            PrintVersion();
            exit(kExitCleaned);
        case kOptQuiet:
            call->level = kLevelQuiet;
            break;
        case kOptVerbose:
            call->level = kLevelVerbose;
            break;
        case kOptDryRun:
            call->dryRun = true;
            break;
        case kOptRecursive:
            args->list.recursive = true;
            break;
        case kOptJson:
            call->json = true;
            break;
        case kOptJobs: {
            char *end;
            errno = 0;
            long n = strtol(optarg, &end, 10);
            if (errno || *end || end == optarg || n < 0 || n > kMaxJobs)
                Usage("invalid number of jobs", optarg);
            if (n > 0)
                call->jobs = (int)n;
            break;
        }
        case kOptOutput:
            if (!*optarg)
                Usage("--output needs a file name");
            call->output = optarg;
            break;
        case kOptFilesFrom:
            args->list.filesFrom.push_back(optarg);
            break;
        case kOptNull:
            args->list.nulSeparated = true;
            break;
        case kOptRemove:
        case kOptKeep: {
            uint32_t mask;
            const char *bad;
            int badLength;
            if (!ParseElementList(optarg, &mask, &bad, &badLength))
                UnknownKind(std::string(bad, (size_t)badLength));
            args->changes.push_back({c == kOptRemove ? SettingChange::kSet : SettingChange::kClear,
                                     mask, ""});
            break;
        }
        case kOptMoveTo: {
            if (!*optarg)
                Usage("--move-to needs a folder");
            std::string folder = AbsoluteFolder(optarg);
            if (folder.size() >= kTargetFolderSize)
                Usage("the folder's path is longer than 259 bytes", folder.c_str());
            args->changes.push_back({SettingChange::kMoveTo, kOptRecycleBin, folder});
            break;
        }
        case kOptKeepTimes:         // -p: --preserve-time
            args->changes.push_back({SettingChange::kSet, kOptPreserveTime, ""});
            break;
        case kOptWarc:
            args->warc = true;
            break;
        case kOptWarcKeepOriginals:
            args->warcCall.keepOriginals = true;
            break;
        case kOptWarcResponse:
            args->warcCall.asResponse = true;
            break;
        case kOptRecordLimit: {
            // In megabytes (2^20 bytes).
            char *end;
            errno = 0;
            long long mb = strtoll(optarg, &end, 10);
            if (errno || *end || end == optarg || mb < 1 || mb > 65536)
                Usage("invalid record limit (megabytes, 1 to 65536)", optarg);
            args->warcCall.recordLimit = (size_t)mb << 20;
            break;
        }
        case kOptWarcLevel:         // the output's gzip level
            if (optarg[0] < '0' || optarg[0] > '9' || optarg[1])
                Usage("invalid compression level (0 to 9)", optarg);
            args->warcCall.level = optarg[0] - '0';
            break;
        case kOptSave:
            args->save = true;
            break;
        case kOptSettings:
            args->showSettings = true;
            break;
        case kOptDefaults:
            args->changes.push_back({SettingChange::kDefaults, 0, ""});
            break;
        default:
            if (c >= kOptSwitchOn && c < kOptSwitchOn + kNamedSwitchCount) {
                args->changes.push_back({SettingChange::kSet, kNamedSwitches[c - kOptSwitchOn].mask, ""});
                break;
            }
            if (c >= kOptSwitchOff && c < kOptSwitchOff + kNamedSwitchCount) {
                args->changes.push_back({SettingChange::kClear, kNamedSwitches[c - kOptSwitchOff].mask, ""});
                break;
            }
            Usage(nullptr);     // getopt_long has said what was wrong
        }
    }
    for (int i = optind; i < argc; i++)
        args->list.pages.push_back(argv[i]);
}

static void ApplyChanges(const std::vector<SettingChange> &changes, Settings *s)
{
    for (const SettingChange &ch : changes) {
        switch (ch.kind) {
        case SettingChange::kSet:
            s->word |= ch.mask;
            break;
        case SettingChange::kClear:
            s->word &= ~ch.mask;
            break;
        case SettingChange::kDefaults:
            // As the window's Default button: bit 13 and the other switches
            // take their defaults; the target and the colour scheme stay.
            s->word = ResetWord(s->word) & ~(uint32_t)kOptAnyLayout;
            break;
        case SettingChange::kMoveTo:
            s->word &= ~ch.mask;
            memset(s->targetFolder, 0, sizeof s->targetFolder);
            memcpy(s->targetFolder, ch.folder.data(), ch.folder.size());
            break;
        }
    }
}

static void PrintSettings(const Settings &s)
{
    char *path = SettingsFilePath();
    printf("%-17s %s\n", "settings file", path);
    free(path);
    for (int i = 0; i < kElementKindCount; i++)
        printf("%-17s %s\n", kElementKinds[i].name, s.word & kElementKinds[i].mask ? "on" : "off");
    for (int i = 0; i < kNamedSwitchCount; i++)
        printf("%-17s %s\n", kNamedSwitches[i].name, s.word & kNamedSwitches[i].mask ? "on" : "off");
    printf("%-17s %s\n", "move-to", s.targetFolder[0] ? s.targetFolder : "(none)");
    printf("%-17s %s\n", "originals go to",
           (s.word & kOptRecycleBin) || !s.targetFolder[0] ? "the trash" : s.targetFolder);
    printf("%-17s 0x%08X\n", "w0", s.word);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    Arguments args;
    ParseArguments(argc, argv, &args);
    Call &call = args.call;

    const ListOptions &list = args.list;
    bool readsStdin = std::find(list.filesFrom.begin(), list.filesFrom.end(), "-") != list.filesFrom.end();
    bool stdinPage = std::find(list.pages.begin(), list.pages.end(), "-") != list.pages.end();
    if (readsStdin && stdinPage)
        Usage("standard input cannot hold both a page and the list of pages");
    if (args.list.pages.empty() && args.list.filesFrom.empty() && !args.save && !args.showSettings)
        Usage("no page named");

    char problem[kMessageLineSize];
    if (!LoadSettings(&call.settings, !call.dryRun, problem, sizeof problem))
        fprintf(stderr, "webtrim: %s; using the default settings\n", problem);
    ApplyChanges(args.changes, &call.settings);
    call.switches = SwitchesFromWord(call.settings.word);

    int status = kExitCleaned;
    if (args.save) {
        if (call.dryRun) {
            char *path = SettingsFilePath();
            if (call.level != kLevelQuiet)
                printf("the settings would be saved to %s\n", path);
            free(path);
        } else if (!SaveSettings(&call.settings, problem, sizeof problem)) {
            fprintf(stderr, "webtrim: %s\n", problem);
            status = kExitStopped;
        }
    }
    if (args.showSettings)
        PrintSettings(call.settings);
    if (args.list.pages.empty() && args.list.filesFrom.empty())
        return status;

    if (args.warc) {
        if (!call.output || !strcmp(call.output, "-"))
            Usage("--warc needs -o with an output file or folder");
        if (call.dryRun)
            Usage("--warc does not take --dry-run");
        if (CleanWarcFiles(args.list.pages, call, args.warcCall, WEBTRIM_VERSION) != kExitCleaned)
            status = kExitStopped;
        return status;
    }

    // Where the originals go, decided once for the call: a missing folder
    // is said once, and every original then goes to the trash.
    bool toTrash = (call.settings.word & kOptRecycleBin) != 0;
    OpenDisposalTarget(toTrash, call.settings.targetFolder, &call.target);
    bool inPlace = !call.output;
    if (call.target.folderMissing && inPlace && call.level != kLevelQuiet)
        WriteAllTo(2, MessageLine(call.settings.targetFolder, WarningText(kWarnFolderMissing), 0, 0));

    std::vector<PageEntry> pages;
    if (!MakePageList(args.list, call, &pages))
        status = kExitStopped;

    const char *output = call.output;
    if (output) {
        if (pages.size() != 1)
            Usage("--output takes exactly one page");
        struct stat st;
        const PageEntry &page = pages[0];
        if (OutputDescriptor(output) < 0 &&
            (output == page.name ||
             (page.known && stat(output, &st) == 0 && st.st_dev == page.dev && st.st_ino == page.ino)))
            Usage(page.name.c_str(), "the output is the page itself; leave out -o to clean it in place");
    }
    call.reportsToStderr = (output && OutputDescriptor(output) == 1) ||
                           (!output && std::any_of(pages.begin(), pages.end(),
                                                   [](const PageEntry &e) { return e.name == "-"; }));
    if (CleanPages(pages, call) != kExitCleaned)
        status = kExitStopped;
    CloseDisposalTarget(&call.target);
    return status;
}
