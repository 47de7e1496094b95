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
#include <functional>
#include "tests/native/support.h"

static const std::string kHeld = "delay_enter=60000000";   // until Finish lets go
static const std::string kPreloadNoTmpfile = std::string("LD_PRELOAD=") + NOTMPFILE_LIB;
static const std::string kChanged =
    "webtrim: The page changed while it was being cleaned.\nThe page was not changed.\n";

// The contents of the files in a folder, sorted.
static std::vector<std::string> Contents(const std::string &folder)
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

// Gives the file to nobody, or to root.
static void GiveTo(const std::string &path, bool nobody)
{
    unsigned uid = 0, gid = 0;
    if (nobody)
        NobodyIds(&uid, &gid);
    lchown(path.c_str(), uid, gid);
}

struct SafetyTest : ::testing::Test {
    SharedDir d;
    std::string folder, page, original = Page(20000), cleaned;
    void SetUp() override
    {
        unsigned uid, gid;
        if (!NobodyIds(&uid, &gid))
            GTEST_SKIP() << "needs root and an unprivileged user";
        folder = d.dir.File("pages");
        page = folder + "/page.htm";
        Reset();
        ASSERT_EQ(RunWebtrim({page}, d.env).status, 0);
        cleaned = ReadFile(page);
        ASSERT_NE(cleaned, original);
        Reset();
    }
    // Only the original page, in its folder.
    void Reset()
    {
        system(("rm -rf '" + folder + "' '" + d.dir.File("old") + "' '" + d.dir.File("second") + "'").c_str());
        d.EmptyTrash();
        d.Make("pages", 0777);
        WriteFile(page, original);
    }
};

// Twenty runs at once with the same page name into one target folder.
TEST_F(SafetyTest, ParallelRunsIntoOneFolderLoseNoOriginal)
{
    std::string target = d.Make("old", 0777);
    d.SetTarget(target);
    std::vector<std::string> originals;
    std::vector<int> pids;
    for (int i = 0; i < 20; i++) {
        originals.push_back("<p>page " + std::to_string(i) + "</p>");
        WriteFile(d.Make("p" + std::to_string(i), 0777) + "/index.htm", originals.back());
    }
    for (int i = 0; i < 20; i++)
        pids.push_back(StartWebtrim({d.dir.File("p" + std::to_string(i) + "/index.htm")}, d.env));
    for (int pid : pids) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    std::sort(originals.begin(), originals.end());
    EXPECT_EQ(Contents(target), originals);
}

// A run held by strace at a system call while something else happens.
struct Race {
    const char *name;
    std::vector<std::string> strace;
    long heldAt;
    bool folderMode, noTmpfile;
    std::function<void(SafetyTest &, int pid)> meanwhile;
    std::function<void(SafetyTest &, const ChildResult &)> check;
};

static void SecondRunTakesTheName(SafetyTest &t, int)
{
    WriteFile(t.d.Make("second", 0777) + "/page.htm", "second");
    EXPECT_EQ(RunWebtrim({t.d.dir.File("second/page.htm")}, t.d.env).status, 0);
}

static void BothOriginalsKept(SafetyTest &t, const ChildResult &r)
{
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ListFolder(t.d.dir.File("old")), (std::vector<std::string>{"page.htm", "~1_page.htm"}));
    EXPECT_EQ(Contents(t.d.dir.File("old")), (std::vector<std::string>{t.original, "second"}));
}

static void PageKeptAs(SafetyTest &t, const ChildResult &r, const std::string &now, int status)
{
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_TRUE(ReadFile(t.page) == now);
    EXPECT_EQ(ListFolder(t.folder), std::vector<std::string>{"page.htm"}) << "leftovers";
    EXPECT_TRUE(ListFolder(t.d.Trash()).empty());
}

static void SavedBesideIt(SafetyTest &t, const ChildResult &r, const std::string &where)
{
    const std::string head = "webtrim: Cannot replace the original file.\nThe cleaned page was saved as:\n";
    ASSERT_EQ(r.err.compare(0, head.size(), head), 0) << r.err;
    std::string saved = r.err.substr(head.size(), r.err.find('\n', head.size()) - head.size());
    EXPECT_EQ(r.err, head + saved + "\n" + where + "\n");
    EXPECT_TRUE(ReadFile(saved) == t.cleaned);
    EXPECT_EQ(ReadFile(t.page), "someone else's");
    EXPECT_EQ(r.status, 1);
}

static const Race kRaces[] = {
    {"a second run takes the free name meanwhile", {"-e", "inject=renameat2:" + kHeld},
     SYS_renameat2, true, false, SecondRunTakesTheName, BothOriginalsKept},
    {"the same where the file system refuses RENAME_NOREPLACE",
     {"-e", "inject=renameat2:error=EINVAL", "-e", "inject=rename:" + kHeld}, SYS_rename, true,
     false, SecondRunTakesTheName, BothOriginalsKept},
    {"page replaced", {"-e", "inject=fdatasync:" + kHeld}, SYS_fdatasync, false, false,
     [](SafetyTest &t, int) {
         WriteFile(t.folder + "/new", "replacement");
         rename((t.folder + "/new").c_str(), t.page.c_str());
     },
     [](SafetyTest &t, const ChildResult &r) {
         EXPECT_EQ(r.err, kChanged);
         PageKeptAs(t, r, "replacement", 1);
     }},
    {"page appended to", {"-e", "inject=fdatasync:" + kHeld}, SYS_fdatasync, false, false,
     [](SafetyTest &t, int) {
         FILE *f = fopen(t.page.c_str(), "a");
         fputs("more", f);
         fclose(f);
     },
     [](SafetyTest &t, const ChildResult &r) {
         EXPECT_EQ(r.err, kChanged);
         PageKeptAs(t, r, t.original + "more", 1);
     }},
    {"path taken after the original went to the trash", {"-e", "inject=linkat:" + kHeld},
     SYS_linkat, false, false, [](SafetyTest &t, int) { WriteFile(t.page, "someone else's"); },
     [](SafetyTest &t, const ChildResult &r) {
         SavedBesideIt(t, r, "The original is in the trash.");
         EXPECT_TRUE(ReadFile(t.d.Trash() + "/page.htm") == t.original);
     }},
    {"path taken after the original went to the folder", {"-e", "inject=linkat:" + kHeld},
     SYS_linkat, true, false, [](SafetyTest &t, int) { WriteFile(t.page, "someone else's"); },
     [](SafetyTest &t, const ChildResult &r) {
         SavedBesideIt(t, r, "The original was moved to:\n" + t.d.dir.File("old/page.htm"));
         EXPECT_TRUE(ReadFile(t.d.dir.File("old/page.htm")) == t.original);
     }},
    {"SIGTERM while the original goes to the trash", {"-e", "inject=rename:" + kHeld}, SYS_rename,
     false, false, [](SafetyTest &, int pid) { kill(pid, SIGTERM); },
     [](SafetyTest &t, const ChildResult &r) {
         EXPECT_EQ(r.status, 128 + SIGTERM);
         EXPECT_TRUE(ReadFile(t.page) == t.cleaned);
         EXPECT_TRUE(ReadFile(t.d.Trash() + "/page.htm") == t.original);
     }},
};

TEST_F(SafetyTest, RacesHeldByStrace)
{
    std::vector<Race> races(std::begin(kRaces), std::end(kRaces));
    // Each termination signal while a named temporary is being written.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        races.push_back({"signal without O_TMPFILE", {"-e", "inject=fdatasync:" + kHeld},
                         SYS_fdatasync, false, true,
                         [sig](SafetyTest &, int pid) { kill(pid, sig); },
                         [sig](SafetyTest &t, const ChildResult &r) {
                             PageKeptAs(t, r, t.original, 128 + sig);
                         }});
    }
    for (const Race &race : races) {
        SCOPED_TRACE(race.name);
        std::string old = d.Make("old", 0777);
        d.SetTarget(race.folderMode ? old : "");
        std::vector<std::string> env = d.env;
        if (race.noTmpfile)
            env.push_back(kPreloadNoTmpfile);
        ChildOptions traced;
        traced.strace = race.strace;
        Traced run;
        if (!run.Start({page}, env, traced))
            GTEST_SKIP() << "no strace";
        bool held = run.HeldAt(race.heldAt);
        if (held)
            race.meanwhile(*this, run.pid);
        ChildResult r = run.Finish();
        ASSERT_TRUE(held) << r.err;
        race.check(*this, r);
        Reset();
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
    EXPECT_LT(synced, placed) << log;
    EXPECT_TRUE(placed < folderSynced && folderSynced != std::string::npos) << log;
}

// The cleaned page has the original's owner, mode, ACL and attributes.
TEST_F(SafetyTest, CleanedPageKeepsOwnerModeAclAndAttributes)
{
    struct Case {
        const char *name;
        mode_t mode;
        bool nobodyOwns, nobodyRuns, note;
        const char *acl;            // setfacl -m on the page, or the folder's default ACL
    } cases[] = {
        {"private", 0600, false, false, false, nullptr},
        {"group-readable, another user's", 0640, true, false, false, nullptr},
        {"read-only", 0444, false, false, false, nullptr},
        {"read-only with an attribute, cleaned by its owner", 0444, true, true, true, nullptr},
        {"ACL and an attribute", 0640, false, false, true, "u:nobody:r"},
        {"folder's default ACL is not taken", 0644, false, false, false, "d:u:nobody:rwx"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string acl = c.acl ? c.acl : "";
        std::string on = acl[0] == 'd' ? folder : page;
        if (!acl.empty() && system(("setfacl -m " + acl + " '" + on + "' 2>/dev/null").c_str()) != 0)
            GTEST_SKIP() << "no setfacl, or no ACLs here";
        if (c.note && setxattr(page.c_str(), "user.note", "kept", 4, 0) != 0)
            GTEST_SKIP() << "no user attributes here";
        GiveTo(page, c.nobodyOwns);
        chmod(page.c_str(), c.mode);
        std::string before = Attributes(page);
        ChildOptions as;
        as.asNobody = c.nobodyRuns;
        ChildResult r = RunWebtrim({page}, d.env, as);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(page) == cleaned);
        EXPECT_EQ(Attributes(page), before);
        Reset();
    }
}

// A page named through a link: cleaned at the target when the link belongs
// to the runner or to the target's owner, else refused.
TEST_F(SafetyTest, SymbolicLinks)
{
    struct Case {
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
    std::string link = folder + "/link.htm", target = folder + "/real.htm";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        unlink(page.c_str());
        if (!c.dangling)
            WriteFile(target, original);
        GiveTo(target, c.nobodyOwnsTarget);
        chmod(target.c_str(), 0600);
        ASSERT_EQ(symlink("real.htm", link.c_str()), 0);
        GiveTo(link, c.nobodyOwnsLink);
        ChildOptions as;
        as.asNobody = c.nobodyRuns;
        ChildResult r = RunWebtrim({link}, d.env, as);
        struct stat st;
        EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        if (c.followed) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(ReadFile(target) == cleaned);
            EXPECT_TRUE(ReadFile(d.Trash() + "/real.htm") == original);
        } else {
            EXPECT_EQ(r.err, "webtrim: Cannot open this file\n");
            EXPECT_EQ(ReadFile(target), c.dangling ? "" : original);
            EXPECT_EQ(ListFolder(folder).size(), c.dangling ? 1u : 2u);
        }
    }
}

// Folder mode into a small file system of its own: the copy there is whole,
// with the original's owner, mode, times and attributes, or there is none.
TEST_F(SafetyTest, MovesToAnotherFileSystem)
{
    struct Case {
        const char *name;
        const char *size;
        bool noTmpfile, stickyFolder;   // sticky: nobody may not remove root's page
        const char *err;
    } cases[] = {
        {"whole copy", "size=4m", false, false, ""},
        {"disk full", "size=64k", false, false,
         "webtrim: Cannot move the original file.\nIt will be sent to Recycle Bin.\n"},
        {"disk full, no anonymous files", "size=64k", true, false,
         "webtrim: Cannot move the original file.\nIt will be sent to Recycle Bin.\n"},
        {"original cannot be removed", "size=4m", false, true,
         "webtrim: Cannot move the original file.\nIt will be sent to Recycle Bin.\n"
         "webtrim: Cannot remove the original file.\nThe page was not changed.\n"},
    };
    std::string small = d.Make("small", 0777);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (mount("tmpfs", small.c_str(), "tmpfs", 0, (std::string(c.size) + ",mode=0777").c_str()))
            GTEST_SKIP() << "cannot mount a file system here";
        d.SetTarget(small);
        original = Page(c.size[5] == '6' ? 200000 : 20000);
        WriteFile(page, original);
        chmod(folder.c_str(), c.stickyFolder ? 01777 : 0777);
        chmod(page.c_str(), c.stickyFolder ? 0666 : 0640);
        GiveTo(page, !c.stickyFolder);
        struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        utimensat(AT_FDCWD, page.c_str(), times, 0);
        setxattr(page.c_str(), "user.note", "kept", 4, 0);
        std::string before = Attributes(page);
        ChildOptions as;
        as.asNobody = c.stickyFolder;
        std::vector<std::string> env = d.env;
        if (c.noTmpfile)
            env.push_back(kPreloadNoTmpfile);
        ChildResult r = RunWebtrim({page}, env, as);
        EXPECT_EQ(r.err, c.err);
        std::string moved = small + "/page.htm";
        struct stat st;
        if (c.err[0]) {
            EXPECT_TRUE(ListFolder(small).empty()) << "partial or leftover copy";
        } else {
            EXPECT_TRUE(ReadFile(moved) == original);
            EXPECT_EQ(Attributes(moved), before);
            EXPECT_TRUE(stat(moved.c_str(), &st) == 0 && st.st_mtime == 1000000000);
            EXPECT_EQ(ListFolder(small), std::vector<std::string>{"page.htm"});
        }
        if (c.stickyFolder) {
            EXPECT_TRUE(ReadFile(page) == original);
        }
        umount(small.c_str());
    }
}
