// Runs among other programs and other users: no original is ever replaced,
// the page keeps its owner, mode and attributes, links are followed only
// when safe, a page changed during the run is left alone, signals leave
// nothing behind, and moves to other file systems leave no partial copy.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <algorithm>
#include <regex>
#include "tests/native/support.h"

#define HELD "delay_enter=60000000"     // until Traced::Finish lets go
static const std::string kNoTmpfile = std::string("LD_PRELOAD=") + NOTMPFILE_LIB;
static const std::string kNoExchange = std::string("LD_PRELOAD=") + NOEXCHANGE_LIB;
static const char kMoveWarning[] = "Cannot move the original into the chosen folder; it goes to the trash.\n";

static std::vector<std::string> Contents(const std::string &folder)   // sorted
{
    std::vector<std::string> all;
    for (const std::string &name : ListFolder(folder))
        all.push_back(ReadFile(folder + "/" + name));
    std::sort(all.begin(), all.end());
    return all;
}

// Owner, mode and every extended attribute (the ACL among them).
static std::string Attributes(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "missing";
    std::string s = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " +
                    std::to_string(st.st_mode & 07777);
    char names[4096], value[4096];
    ssize_t n = listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < n; at += (ssize_t)strlen(names + at) + 1) {
        ssize_t v = getxattr(path.c_str(), names + at, value, sizeof value);
        s += std::string(" ") + (names + at) + "=" + std::string(value, v > 0 ? (size_t)v : 0);
    }
    return s;
}

static void GiveTo(const std::string &path, bool nobody)   // else to root
{
    unsigned uid = 0, gid = 0;
    if (nobody)
        NobodyIds(&uid, &gid);
    lchown(path.c_str(), uid, gid);
}

struct SafetyTest : ::testing::Test {
    SharedDir d;
    std::string folder = d.dir.File("pages"), page = folder + "/page.htm", old = d.dir.File("old");
    std::string original = Page(20000), cleaned;
    void SetUp() override
    {
        unsigned uid, gid;
        if (!NobodyIds(&uid, &gid))
            GTEST_SKIP() << "needs root and an unprivileged user";
        Reset();
        ASSERT_EQ(RunWebtrim({page}, d.env).status, 0);
        cleaned = ReadFile(page);
        Reset();
    }
    void Reset()   // only the original page, in its folder
    {
        system(("rm -rf '" + folder + "' '" + old + "' '" + d.dir.File("second") + "'").c_str());
        d.EmptyTrash();
        d.Make("pages", 0777);
        WriteFile(page, original);
    }
    ChildResult Run(bool asNobody, const std::vector<std::string> &more = {})
    {
        ChildOptions as;
        as.asNobody = asNobody;
        std::vector<std::string> env = d.env;
        env.insert(env.end(), more.begin(), more.end());
        return RunWebtrim({page}, env, as);
    }
};

// Twenty runs at once with the same page name into one target folder.
TEST_F(SafetyTest, ParallelRunsIntoOneFolderLoseNoOriginal)
{
    d.SetTarget(d.Make("old", 0777));
    std::vector<std::string> originals;
    std::vector<int> pids;
    for (int i = 0; i < 20; i++) {
        originals.push_back(Page(300000) + std::to_string(i));
        WriteFile(d.Make("p" + std::to_string(i), 0777) + "/index.htm", originals.back());
        pids.push_back(StartWebtrim({d.dir.File("p" + std::to_string(i) + "/index.htm")}, d.env));
    }
    for (int pid : pids) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    std::sort(originals.begin(), originals.end());
    EXPECT_TRUE(Contents(old) == originals) << ListFolder(old).size() << " files in the folder";
}

// A run held by strace at a system call while something else happens.
enum Meanwhile { kSecondRun, kReplace, kAppend, kAppendThroughOpenFile, kTakePath, kSignal, kSwapFolder, kNothing };
enum Outcome { kBothInFolder, kUntouched, kSavedBeside, kCleanedAndTrashed, kSwappedFolderSpared };
enum Target { kTrash, kFolder, kFolderElsewhere };    // the last on another file system
enum { kNoExchangeHere = 2 };
struct Race {
    const char *name;
    std::vector<const char *> inject;
    long heldAt;
    Target target;
    int noTmpfile;      // 1: no anonymous files; kNoExchangeHere: no exchange of names
    Meanwhile act;
    int sig, status;
    Outcome outcome;
    const char *err;
};
static const char kChanged[] = "The page changed while it was being cleaned. The page was not changed.";
static const Race kRaces[] = {
    {"a second run takes the free name", {"renameat2:" HELD}, SYS_renameat2, kFolder, false,
     kSecondRun, 0, 0, kBothInFolder, ""},
    {"the same where the file system refuses RENAME_NOREPLACE",
     {"renameat2:error=EINVAL", "renameat:" HELD}, SYS_renameat, kFolder, false, kSecondRun, 0, 0,
     kBothInFolder, ""},
    {"page replaced", {"fdatasync:" HELD}, SYS_fdatasync, kTrash, false, kReplace, 0, 1, kUntouched, kChanged},
    {"page appended to", {"fdatasync:" HELD}, SYS_fdatasync, kTrash, false, kAppend, 0, 1, kUntouched, kChanged},
    // The cleaned page and the page swap names with the run's first
    // renameat2; what then stands at the hidden name must be the page that
    // was read, or the names swap back.
    {"page replaced at the exchange", {"renameat2:" HELD ":when=1"}, SYS_renameat2, kTrash, false, kReplace,
     0, 1, kUntouched, kChanged},
    {"page appended to at the exchange", {"renameat2:" HELD ":when=1"}, SYS_renameat2, kFolder, false,
     kAppend, 0, 1, kUntouched, kChanged},
    {"SIGTERM held at the exchange", {"renameat2:" HELD ":when=1"}, SYS_renameat2, kTrash, false, kSignal,
     SIGTERM, 128 + SIGTERM, kCleanedAndTrashed, ""},
    {"the original cannot leave: the names swap back", {"renameat2:error=EIO:when=2"}, 0, kTrash, false,
     kNothing, 0, 1, kUntouched, "Cannot remove the original file: Input/output error. The page was not changed."},
    // Where names cannot be exchanged, the original leaves first. The
    // trash's record is made first (its fdatasync is the run's second): a
    // page replaced meanwhile stays, and so does no record of it.
    {"page replaced while its trash record is made", {"fdatasync:" HELD ":when=2"}, SYS_fdatasync, kTrash,
     kNoExchangeHere, kReplace, 0, 1, kUntouched, kChanged},
    // The original leaves with the run's first renameat2 (into the trash
    // or the folder), and the cleaned page takes the path with the second.
    {"path taken, original in the trash", {"renameat2:" HELD ":when=2"}, SYS_renameat2, kTrash,
     kNoExchangeHere, kTakePath, 0, 1, kSavedBeside, "The original is in the trash."},
    {"path taken, original in the folder", {"renameat2:" HELD ":when=2"}, SYS_renameat2, kFolder,
     kNoExchangeHere, kTakePath, 0, 1, kSavedBeside, "The original was moved to:"},
    {"SIGTERM held while the original goes", {"renameat2:" HELD ":when=1"}, SYS_renameat2, kTrash,
     kNoExchangeHere, kSignal, SIGTERM, 128 + SIGTERM, kCleanedAndTrashed, ""},
    {"SIGINT, no O_TMPFILE", {"fdatasync:" HELD}, SYS_fdatasync, kTrash, true, kSignal, SIGINT,
     128 + SIGINT, kUntouched, ""},
    {"SIGTERM, no O_TMPFILE", {"fdatasync:" HELD}, SYS_fdatasync, kTrash, true, kSignal, SIGTERM,
     128 + SIGTERM, kUntouched, ""},
    {"SIGHUP, no O_TMPFILE", {"fdatasync:" HELD}, SYS_fdatasync, kTrash, true, kSignal, SIGHUP,
     128 + SIGHUP, kUntouched, ""},
    // The page's folder swapped for a link to a root-only folder while the
    // run is between its look and its move: the run works on in the folder
    // it holds; root's own page is never touched.
    {"folder swapped for a link, to a folder", {"fdatasync:" HELD}, SYS_fdatasync, kFolder, false,
     kSwapFolder, 0, 0, kSwappedFolderSpared, ""},
    {"folder swapped for a link, to the trash", {"fdatasync:" HELD}, SYS_fdatasync, kTrash, false,
     kSwapFolder, 0, 0, kSwappedFolderSpared, ""},
    // The cleaned page cannot take the path (an error, not a name taken):
    // the original comes back from the folder it went to.
    {"cleaned page not placed, original brought back", {"renameat2:error=EIO:when=2"}, 0, kFolder,
     kNoExchangeHere, kNothing, 0, 1, kUntouched, "Cannot write the cleaned page: Input/output error"},
    {"cleaned page not placed, original brought back from the trash", {"renameat2:error=EIO:when=2"}, 0,
     kTrash, kNoExchangeHere, kNothing, 0, 1, kUntouched, "Cannot write the cleaned page: Input/output error"},
    // Another file system: held when the copy is whole and synced; the page
    // changes before the original would go, so nothing goes.
    {"page appended to while copied across", {"fsync:" HELD ":when=1"}, SYS_fsync, kFolderElsewhere,
     kNoExchangeHere, kAppend, 0, 1, kUntouched, kChanged},
    {"page replaced while copied across", {"fsync:" HELD ":when=1"}, SYS_fsync, kFolderElsewhere,
     kNoExchangeHere, kReplace, 0, 1, kUntouched, kChanged},
    // Bytes written through a descriptor opened before the run, until the
    // unlink of the original returns: the original comes back, whole, from
    // the descriptor the move holds, and the copy goes. Both orders.
    {"page written to until its unlink, across", {"unlinkat:" HELD ":when=1"}, SYS_unlinkat, kFolderElsewhere,
     false, kAppendThroughOpenFile, 0, 1, kUntouched, kChanged},
    {"the same where names cannot be exchanged", {"unlinkat:" HELD ":when=1"}, SYS_unlinkat, kFolderElsewhere,
     kNoExchangeHere, kAppendThroughOpenFile, 0, 1, kUntouched, kChanged},
};

TEST_F(SafetyTest, RacesHeldByStrace)
{
    TempDir elsewhere("/dev/shm");
    const std::string rootOnly = d.dir.File("root-only"), trashInfo = d.dir.File("home/data/Trash/info");
    for (const Race &race : kRaces) {
        SCOPED_TRACE(race.name);
        Reset();
        system(("rm -rf '" + folder + ".old' '" + rootOnly + "' '" + elsewhere.path + "/old'").c_str());
        old = race.target == kFolderElsewhere ? elsewhere.File("old") : d.dir.File("old");
        if (race.target == kFolderElsewhere)
            mkdir(old.c_str(), 0777);
        d.SetTarget(race.target == kFolder ? d.Make("old", 0777) : race.target == kFolderElsewhere ? old : "");
        std::vector<std::string> env = d.env;
        if (race.noTmpfile)
            env.push_back(race.noTmpfile == kNoExchangeHere ? kNoExchange : kNoTmpfile);
        ChildOptions traced;
        for (const char *inject : race.inject)
            traced.strace.insert(traced.strace.end(), {"-e", std::string("inject=") + inject});
        Traced run;
        if (race.heldAt == 0) {
            // Nothing to hold: the injection alone makes the race.
            ChildResult r = RunWebtrim({page}, env, traced);
            EXPECT_EQ(r.status, race.status) << r.err;
            EXPECT_EQ(r.err, "webtrim: " + page + ": " + race.err + "\n");
            EXPECT_TRUE(ReadFile(page) == original);
            EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"page.htm"}) << "leftovers";
            EXPECT_TRUE(ListFolder(old).empty()) << "the original stayed in the folder";
            EXPECT_TRUE(ListFolder(d.Trash()).empty() && ListFolder(trashInfo).empty()) << "left in the trash";
            continue;
        }
        FILE *writer = race.act == kAppendThroughOpenFile ? fopen(page.c_str(), "a") : nullptr;
        if (!run.Start({page}, env, traced))
            GTEST_SKIP() << "no strace";
        bool held = run.HeldAt(race.heldAt);
        std::string now = original;     // what the path holds after the other program
        if (writer) {
            fputs("more", writer);
            fclose(writer);
            now += "more";
        }
        if (held && race.act == kSecondRun) {
            WriteFile(d.Make("second", 0777) + "/page.htm", "second<!-- c -->");
            EXPECT_EQ(RunWebtrim({d.dir.File("second/page.htm")}, d.env).status, 0);
        } else if (held && race.act == kReplace) {
            WriteFile(folder + "/new", now = "replacement");
            rename((folder + "/new").c_str(), page.c_str());
        } else if (held && race.act == kAppend) {
            FILE *f = fopen(page.c_str(), "a");
            fputs("more", f);
            fclose(f);
            now += "more";
        } else if (held && race.act == kTakePath) {
            WriteFile(page, now = "someone else's");
        } else if (held && race.act == kSwapFolder) {
            mkdir(rootOnly.c_str(), 0700);
            WriteFile(rootOnly + "/page.htm", "root's own<!-- c -->");
            ASSERT_EQ(rename(folder.c_str(), (folder + ".old").c_str()), 0);
            ASSERT_EQ(symlink(rootOnly.c_str(), folder.c_str()), 0);
            GiveTo(folder, true);
        } else if (held && race.act == kSignal) {
            // Once whole, the cleaned page has a hidden name beside the
            // page; before that, only where there are no anonymous files.
            bool named = race.noTmpfile == 1 || race.heldAt != SYS_fdatasync;
            EXPECT_EQ(ListFolder(folder).size(), named ? 2u : 1u) << "named temporary";
            kill(run.pid, race.sig);
        }
        ChildResult r = run.Finish();
        ASSERT_TRUE(held) << r.err;
        EXPECT_EQ(r.status, race.status) << r.err;
        bool toFolder = race.target != kTrash;
        std::string original_is = toFolder ? old + "/page.htm" : d.Trash() + "/page.htm";
        const std::string said = "webtrim: " + page + ": ";
        if (race.outcome == kSavedBeside) {
            const std::string head =
                said + "Cannot replace the original file: File exists. The cleaned page was saved as: ";
            size_t end = r.err.find(' ', head.size());
            std::string saved = r.err.substr(head.size(), end - head.size());
            std::string where = race.err + std::string(toFolder ? " " + original_is : "");
            EXPECT_EQ(r.err, head + saved + " " + where + "\n");
            EXPECT_TRUE(ReadFile(saved) == cleaned);
        } else {
            EXPECT_EQ(r.err, *race.err ? said + race.err + "\n" : "");
        }
        if (race.outcome == kBothInFolder) {
            EXPECT_EQ(ListFolder(old), (std::vector<std::string>{"page.htm", "~1_page.htm"}));
            EXPECT_TRUE(Contents(old) == (std::vector<std::string>{original, "second<!-- c -->"}));
        } else if (race.outcome == kUntouched) {
            EXPECT_TRUE(ReadFile(page) == now);
            EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"page.htm"}) << "leftovers";
            EXPECT_TRUE(ListFolder(d.Trash()).empty());
            EXPECT_TRUE(ListFolder(trashInfo).empty()) << "a record of a page that stayed";
            if (toFolder) {
                EXPECT_TRUE(ListFolder(old).empty()) << "a copy left in the folder";
            }
        } else if (race.outcome == kSwappedFolderSpared) {
            EXPECT_EQ(ReadFile(rootOnly + "/page.htm"), "root's own<!-- c -->");
            EXPECT_EQ(ListFolder(rootOnly), std::vector<std::string>{"page.htm"});
            EXPECT_TRUE(ReadFile(folder + ".old/page.htm") == cleaned);
            EXPECT_TRUE(ReadFile(original_is) == original);
            remove(folder.c_str());
        } else {
            EXPECT_TRUE(ReadFile(page) == (race.outcome == kSavedBeside ? "someone else's" : cleaned));
            EXPECT_TRUE(ReadFile(original_is) == original);
        }
    }
}

TEST_F(SafetyTest, SyncedBeforeItIsPlacedAndTheFolderAfter)
{
    TempDir logDir;
    ChildOptions traced;
    traced.strace = {"-o", logDir.File("log"), "-e", "trace=fdatasync,linkat,fsync"};
    ASSERT_EQ(RunWebtrim({page}, d.env, traced).status, 0);
    std::string log = ReadFile(logDir.File("log"));
    size_t synced = log.find("fdatasync("), placed = log.find("linkat("), folderSynced = log.rfind("fsync(");
    EXPECT_TRUE(synced < placed && placed < folderSynced && folderSynced != std::string::npos) << log;
}

// The cleaned page takes the path by exchange first; the trash's record is
// on the disk before the original moves from the hidden name; the folders
// the page changed (the trash's info/ and files/, the page's own) are synced
// together after that, once for the batch of pages, before the page is
// reported.
TEST_F(SafetyTest, TrashRecordAndFilesSyncedAroundTheMove)
{
    TempDir logDir;
    ChildOptions traced;
    traced.strace = {"-o", logDir.File("log"), "-y", "-e", "trace=fdatasync,fsync,renameat2"};
    ASSERT_EQ(RunWebtrim({page}, d.env, traced).status, 0);
    std::string trash = std::regex_replace(d.dir.File("home/data/Trash"), std::regex("[.^$|()\\[\\]{}*+?\\\\]"),
                                           "\\$&");
    std::string pages = std::regex_replace(folder, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
    const std::string steps[] = {
        "renameat2\\(.*\"\\.wt\\w{6}\", .*, \"page\\.htm\", RENAME_EXCHANGE\\)",  // the cleaned page placed
        "fdatasync\\(\\d+<" + trash + "/info/page\\.htm\\.trashinfo>\\)",
        "renameat2\\(.*\"\\.wt\\w{6}\", .*<" + trash + "/files>, \"page\\.htm\", RENAME_NOREPLACE\\)",
        "fsync\\(\\d+<" + trash + "/info>\\)",
        "fsync\\(\\d+<" + trash + "/files>\\)",
        "fsync\\(\\d+<" + pages + ">\\)",
    };
    std::string log = ReadFile(logDir.File("log"));
    size_t step = 0;
    for (size_t at = 0, end; at < log.size() && step < 6; at = end + 1) {
        end = log.find('\n', at);
        if (std::regex_search(log.substr(at, end - at), std::regex(steps[step])))
            step++;
    }
    EXPECT_EQ(step, 6u) << "missing, or out of order: " << steps[step < 6 ? step : 0] << "\n" << log;
}

// Where the cleaned page cannot be given exactly the page's access (its
// ACL, its mode, or without the ACL its folder would give it), the run
// stops and the original stays as it is.
// -r holds every folder it listed: a folder below swapped for a link to a
// root-only folder after the list was made is not followed; the pages of
// the folder it held are cleaned where they are.
TEST_F(SafetyTest, WalkNeverFollowsAFolderSwappedAfterTheList)
{
    const std::string site = d.Make("site", 0777), rootOnly = d.dir.File("root-only");
    WriteFile(site + "/a.htm", original);
    d.Make("site/sub", 0777);
    WriteFile(site + "/sub/b.htm", original);
    mkdir(rootOnly.c_str(), 0700);
    WriteFile(rootOnly + "/b.htm", "root's own<!-- c -->");
    d.SetTarget(d.Make("old", 0777));
    ChildOptions traced;
    traced.strace = {"-e", "inject=fdatasync:" HELD ":when=1"};
    Traced run;
    if (!run.Start({"-j", "1", "-r", site}, d.env, traced))
        GTEST_SKIP() << "no strace";
    bool held = run.HeldAt(SYS_fdatasync);      // cleaning a.htm; the list is made
    if (held) {
        ASSERT_EQ(rename((site + "/sub").c_str(), (site + "/sub.old").c_str()), 0);
        ASSERT_EQ(symlink(rootOnly.c_str(), (site + "/sub").c_str()), 0);
        GiveTo(site + "/sub", true);
    }
    ChildResult r = run.Finish();
    ASSERT_TRUE(held) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(rootOnly + "/b.htm"), "root's own<!-- c -->");
    EXPECT_EQ(ListFolder(rootOnly), std::vector<std::string>{"b.htm"});
    EXPECT_TRUE(ReadFile(site + "/a.htm") == cleaned);
    EXPECT_TRUE(ReadFile(site + "/sub.old/b.htm") == cleaned);
    EXPECT_EQ(ListFolder(old), (std::vector<std::string>{"a.htm", "b.htm"}));
}

TEST_F(SafetyTest, AccessThatCannotBeKeptKeepsTheOriginal)
{
    if (system("setfacl --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no setfacl";
    const struct {
        const char *name, *setfacl, *inject, *reason;
    } cases[] = {
        {"the page's ACL", "-m u:nobody:r PAGE", "fsetxattr:error=EOPNOTSUPP", "Operation not supported"},
        {"the mode", "", "fchmod:error=EPERM", "Operation not permitted"},
        {"the folder's default ACL", "-d -m u:nobody:rwx FOLDER", "fremovexattr:error=EPERM",
         "Operation not permitted"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        std::string acl = c.setfacl;
        for (const char *word : {"PAGE", "FOLDER"}) {
            size_t at = acl.find(word);
            if (at != std::string::npos)
                acl.replace(at, strlen(word), "'" + (word[0] == 'P' ? page : folder) + "'");
        }
        if (!acl.empty() && system(("setfacl " + acl).c_str()) != 0)
            GTEST_SKIP() << "this file system takes no ACL";
        std::string before = Attributes(page);
        ChildOptions traced;
        traced.strace = {"-e", std::string("inject=") + c.inject};
        ChildResult r = RunWebtrim({page}, d.env, traced);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "webtrim: " + page + ": Cannot write the cleaned page: " + c.reason + "\n");
        EXPECT_TRUE(ReadFile(page) == original);
        EXPECT_EQ(Attributes(page), before);
        EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"page.htm"});
        EXPECT_TRUE(ListFolder(d.Trash()).empty());
    }
}

TEST_F(SafetyTest, CleanedPageKeepsOwnerModeAclAndAttributes)
{
    struct {
        const char *name;
        mode_t mode;
        bool nobodyOwns, nobodyRuns, note;
        std::string acl;            // setfacl -m on the page; d:... on its folder
    } cases[] = {
        {"private", 0600, false, false, false, ""},
        {"group-readable, another user's", 0640, true, false, false, ""},
        {"read-only", 0444, false, false, false, ""},
        {"read-only with an attribute, cleaned by its owner", 0444, true, true, true, ""},
        {"ACL and an attribute", 0640, false, false, true, "u:nobody:r"},
        {"the folder's default ACL is not taken", 0644, false, false, false, "d:u:nobody:rwx"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        std::string on = c.acl[0] == 'd' ? folder : page;
        if (!c.acl.empty() && system(("setfacl -m " + c.acl + " '" + on + "' 2>/dev/null").c_str()))
            GTEST_SKIP() << "no setfacl, or no ACLs here";
        if (c.note && setxattr(page.c_str(), "user.note", "kept", 4, 0) != 0)
            GTEST_SKIP() << "no user attributes here";
        GiveTo(page, c.nobodyOwns);
        chmod(page.c_str(), c.mode);
        std::string before = Attributes(page);
        ChildResult r = Run(c.nobodyRuns);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(page) == cleaned);
        EXPECT_EQ(Attributes(page), before);
    }
}

// A page named through a link: cleaned at the target when the link belongs
// to the runner or to the target's owner, else refused.
TEST_F(SafetyTest, SymbolicLinks)
{
    struct {
        const char *name;
        bool nobodyRuns, nobodyOwnsLink, nobodyOwnsTarget, dangling, followed;
    } cases[] = {
        {"root's own link", false, false, false, false, true},
        {"another user's link to root's file", false, true, false, false, false},
        {"a user's link to the user's file", false, true, true, false, true},
        {"the runner's own link", true, true, true, false, true},
        {"root's link to the runner's file", true, false, true, false, false},
        {"dangling link", false, false, false, true, false},
    };
    std::string target = folder + "/real.htm";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        rename(page.c_str(), target.c_str());
        if (c.dangling)
            unlink(target.c_str());
        GiveTo(target, c.nobodyOwnsTarget);
        chmod(target.c_str(), 0600);
        ASSERT_EQ(symlink("real.htm", page.c_str()), 0);
        GiveTo(page, c.nobodyOwnsLink);
        ChildResult r = Run(c.nobodyRuns);
        struct stat st;
        EXPECT_TRUE(lstat(page.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        if (c.followed) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(ReadFile(target) == cleaned);
            EXPECT_TRUE(ReadFile(d.Trash() + "/real.htm") == original);
        } else {
            EXPECT_EQ(r.err.rfind("webtrim: " + page + ": Cannot open this file", 0), 0u) << r.err;
            EXPECT_TRUE(ReadFile(target) == (c.dangling ? "" : original));
            EXPECT_EQ(ListFolder(folder).size(), c.dangling ? 1u : 2u);
        }
    }
}

// Folder mode into a small file system of its own: the copy there is whole,
// with the original's owner, mode, times and attributes, or there is none.
TEST_F(SafetyTest, MovesToAnotherFileSystem)
{
    struct {
        const char *name, *size;
        bool noTmpfile, stickyFolder;   // sticky: nobody may not remove root's page
        std::string err;
    } cases[] = {
        {"whole copy", "size=4m", false, false, ""},
        {"disk full", "size=64k", false, false, kMoveWarning},
        {"disk full, no anonymous files", "size=64k", true, false, kMoveWarning},
        // Root's page in a sticky folder: neither its owner nor its name can
        // be taken by the runner; the owner is the first to be found.
        {"original cannot be removed", "size=4m", false, true,
         "Cannot give the cleaned page the page's owner: Operation not permitted. The page was not changed; "
         "to write a cleaned copy, use -o. The owner: root:root\n"},
    };
    std::string small = d.Make("small", 0777);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        original = Page(c.size[5] == '6' ? 200000 : 20000);
        Reset();
        if (mount("tmpfs", small.c_str(), "tmpfs", 0, (std::string(c.size) + ",mode=0777").c_str()))
            GTEST_SKIP() << "cannot mount a file system here";
        d.SetTarget(small);
        chmod(folder.c_str(), c.stickyFolder ? 01777 : 0777);
        chmod(page.c_str(), c.stickyFolder ? 0666 : 0640);
        GiveTo(page, !c.stickyFolder);
        struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        utimensat(AT_FDCWD, page.c_str(), times, 0);
        setxattr(page.c_str(), "user.note", "kept", 4, 0);
        std::string before = Attributes(page), moved = small + "/page.htm";
        ChildResult r = Run(c.stickyFolder, c.noTmpfile ? std::vector<std::string>{kNoTmpfile}
                                                        : std::vector<std::string>{});
        // Each line the program says names the page.
        std::string said;
        for (size_t at = 0, end; at < c.err.size(); at = end + 1) {
            end = c.err.find('\n', at);
            said += "webtrim: " + page + ": " + c.err.substr(at, end + 1 - at);
        }
        EXPECT_EQ(r.err, said);
        struct stat st;
        if (c.err.empty()) {
            EXPECT_TRUE(ReadFile(moved) == original);
            EXPECT_EQ(Attributes(moved), before);
            EXPECT_TRUE(stat(moved.c_str(), &st) == 0 && st.st_mtime == 1000000000);
        }
        EXPECT_EQ(ListFolder(small).size(), c.err.empty() ? 1u : 0u) << "partial or leftover copy";
        EXPECT_TRUE(!c.stickyFolder || ReadFile(page) == original);
        umount(small.c_str());
    }
}

// A user's link swapped for a link to root's files while the run stands at
// its readlinkat: the link is read once, through the descriptor that was
// judged, and its target judged once opened. Root's page, file and folder
// stay as they are whichever link the run follows (the page's, a folder's
// on the page's path, -o's, --move-to's).
TEST_F(SafetyTest, LinkSwappedWhileReadIsFollowedAsJudged)
{
    const std::string mine = d.dir.File("mine"), rootOnly = d.dir.File("root-only");
    enum Via { kPageLink, kFolderOnPath, kOutput, kMoveTo };
    const struct {
        const char *name;
        Via via;
        const char *link, *ownTarget, *rootTarget;  // the link in `folder`, its two targets
    } cases[] = {
        {"the page's link", kPageLink, "link.htm", "page.htm", "page.htm"},
        {"a folder's link on the page's path", kFolderOnPath, "dir", "", ""},
        {"the -o link", kOutput, "out.htm", "out.htm", "out.htm"},
        {"the --move-to link", kMoveTo, "to", "old", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        system(("rm -rf '" + mine + "' '" + rootOnly + "'").c_str());
        d.Make("mine", 0755);
        d.Make("mine/old", 0755);
        WriteFile(mine + "/page.htm", original);
        WriteFile(mine + "/out.htm", "x");
        for (const char *f : {"", "/old", "/page.htm", "/out.htm"})
            GiveTo(mine + f, true);
        mkdir(rootOnly.c_str(), 0700);
        WriteFile(rootOnly + "/page.htm", "root's own<!-- c -->");
        WriteFile(rootOnly + "/out.htm", "root's own<!-- c -->");
        const std::string link = folder + "/" + c.link;
        auto linkTo = [&](const std::string &to, const std::string &at) {
            ASSERT_EQ(symlink(to.c_str(), at.c_str()), 0);
            GiveTo(at, true);
        };
        linkTo(mine + (*c.ownTarget ? "/" : "") + c.ownTarget, link);
        std::vector<std::string> args = {page};
        if (c.via == kPageLink)
            args = {link};
        else if (c.via == kFolderOnPath)
            args = {link + "/page.htm"};
        else if (c.via == kOutput)
            args = {"-o", link, page};
        d.SetTarget(c.via == kMoveTo ? link : "");
        ChildOptions traced;
        traced.strace = {"-e", "inject=readlinkat:" HELD ":when=1"};
        Traced run;
        if (!run.Start(args, d.env, traced))
            GTEST_SKIP() << "no strace";
        bool held = run.HeldAt(SYS_readlinkat);
        if (held) {
            linkTo(rootOnly + (*c.rootTarget ? "/" : "") + c.rootTarget, folder + "/swap");
            ASSERT_EQ(rename((folder + "/swap").c_str(), link.c_str()), 0);
        }
        ChildResult r = run.Finish();
        ASSERT_TRUE(held) << r.err;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadFile(rootOnly + "/page.htm"), "root's own<!-- c -->");
        EXPECT_EQ(ReadFile(rootOnly + "/out.htm"), "root's own<!-- c -->");
        EXPECT_EQ(ListFolder(rootOnly), (std::vector<std::string>{"out.htm", "page.htm"}));
        const std::string cleanedAt = c.via == kOutput ? mine + "/out.htm"
                                      : c.via == kMoveTo ? page : mine + "/page.htm";
        EXPECT_TRUE(ReadFile(cleanedAt) == cleaned);
        if (c.via == kMoveTo) {
            EXPECT_TRUE(ReadFile(mine + "/old/page.htm") == original);
        }
    }
}
