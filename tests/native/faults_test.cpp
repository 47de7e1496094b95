// File-system faults around whole runs of the program: permissions (as an
// unprivileged user, since root ignores them), full disks, moves across
// file systems, and the process killed at any moment. Each case ends with
// the original intact at its path or recoverable, and nothing left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <string>
#include "tests/native/support.h"

static bool CanDropPrivileges()
{
    unsigned uid, gid;
    return NobodyIds(&uid, &gid);
}

TEST(Faults, PermissionsAsAnUnprivilegedUser)
{
    if (!CanDropPrivileges())
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    SharedDir shared;
    ChildOptions nobody;
    nobody.asNobody = true;
    const std::string page = Page(5000);

    // An unreadable page.
    std::string open = shared.Make("open", 0777);
    WriteFile(open + "/secret.htm", page);
    chmod((open + "/secret.htm").c_str(), 0);
    ChildResult r = RunWebtrim({open + "/secret.htm"}, shared.env, nobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "webtrim: " + open + "/secret.htm: Cannot open this file: Permission denied\n");

    // A read-only folder: the cleaned page cannot be made beside the page.
    std::string ro = shared.Make("readonly", 0777);
    WriteFile(ro + "/page.htm", page);
    chmod((ro + "/page.htm").c_str(), 0644);
    chmod(ro.c_str(), 0555);
    r = RunWebtrim({ro + "/page.htm"}, shared.env, nobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "webtrim: " + ro + "/page.htm: Cannot write the cleaned page: Permission denied\n");
    EXPECT_EQ(ReadFile(ro + "/page.htm"), page);
    EXPECT_EQ(ListFolder(ro), std::vector<std::string>{"page.htm"});

    // An unwritable temporary folder, with the extraction after the element
    // removal: the default order needs no temporary file.
    std::string config = shared.dir.File("home/config/webtrim");
    ASSERT_EQ(system(("mkdir -p '" + config + "' && chmod -R 01777 '" +
                      shared.dir.File("home") + "'").c_str()), 0);
    WriteFile(config + "/webtrim.ini", "[Webtrim]\nw0=0x100003BF\nw1=\n");
    chmod((config + "/webtrim.ini").c_str(), 0666);
    std::vector<std::string> env = shared.env;
    env.back() = "TMPDIR=" + ro;
    WriteFile(open + "/page.htm", page);
    chmod((open + "/page.htm").c_str(), 0666);
    r = RunWebtrim({open + "/page.htm"}, env, nobody);
    EXPECT_EQ(r.err, "webtrim: " + open + "/page.htm: Cannot create a temporary file: Permission denied\n");
    EXPECT_EQ(ReadFile(open + "/page.htm"), page);

    // A read-only target folder: the move fails, the trash takes it (the
    // page is the runner's: another's page would not keep its owner).
    unsigned uid, gid;
    ASSERT_TRUE(NobodyIds(&uid, &gid));
    ASSERT_EQ(chown((open + "/page.htm").c_str(), uid, gid), 0);
    std::string target = shared.Make("target", 0555);
    WriteFile(config + "/webtrim.ini", "[Webtrim]\nw0=0x000013BF\nw1=" + target + "\n");
    chmod((config + "/webtrim.ini").c_str(), 0666);
    r = RunWebtrim({open + "/page.htm"}, shared.env, nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "webtrim: " + open +
                         "/page.htm: Cannot move the original into the chosen folder; it goes to the trash.\n");
    EXPECT_EQ(ReadFile(shared.dir.File("home/data/Trash/files/page.htm")), page);
    EXPECT_TRUE(ListFolder(target).empty());
    EXPECT_EQ(ListFolder(open), (std::vector<std::string>{"page.htm", "secret.htm"}));
}

TEST(Faults, FilesOverTheFileSizeLimit)
{
    // The default order writes only the cleaned page; the extraction after
    // the element removal writes a temporary file first.
    const struct {
        const char *word;
        const char *err;
    } cases[] = {{"0x100013BF", "Cannot write the cleaned page: File too large"},
                 {"0x100003BF", "Cannot create a temporary file: File too large"}};
    for (const auto &c : cases) {
        TempDir dir;
        const std::string page = Page(300000);
        WriteFile(dir.File("page.htm"), page);
        mkdir(dir.File("webtrim").c_str(), 0700);
        WriteFile(dir.File("webtrim/webtrim.ini"), std::string("[Webtrim]\nw0=") + c.word + "\nw1=\n");
        ChildOptions limited;
        limited.fileSizeLimit = 100000;
        ChildResult r = RunWebtrim({dir.File("page.htm")}, {"XDG_CONFIG_HOME=" + dir.path}, limited);
        EXPECT_EQ(r.status, 1) << c.word;
        EXPECT_EQ(r.err, "webtrim: " + dir.File("page.htm") + ": " + c.err + "\n");
        EXPECT_EQ(ReadFile(dir.File("page.htm")), page);
        EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"page.htm", "webtrim"}));
    }
}

TEST(Faults, DiskFillsWhileTheCleanedPageIsWritten)
{
    TempDir dir;
    std::string small = dir.File("small");
    mkdir(small.c_str(), 0755);
    // A file system with room for the page but not for a second copy.
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    const std::string page = std::string(400000, 'x');
    WriteFile(small + "/page.htm", page);
    ChildResult r = RunWebtrim({small + "/page.htm"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "webtrim: " + small + "/page.htm: Cannot write the cleaned page: No space left on device\n");
    EXPECT_EQ(ReadFile(small + "/page.htm"), page);
    EXPECT_EQ(ListFolder(small), std::vector<std::string>{"page.htm"});
    umount(small.c_str());
}

TEST(Faults, TargetFolderOnAnotherFileSystem)
{
    TempDir dir;
    if (access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no /dev/shm";
    TempDir shm("/dev/shm");
    const char *tmpl = shm.path.c_str();
    std::string config = dir.File("config");
    mkdir(config.c_str(), 0700);
    mkdir((config + "/webtrim").c_str(), 0700);
    WriteFile(config + "/webtrim/webtrim.ini",
              std::string("[Webtrim]\nw0=0x000013BF\nw1=") + tmpl + "\n");
    const std::string page = Page(20000);
    WriteFile(dir.File("page.htm"), page);
    ChildResult r = RunWebtrim({dir.File("page.htm")}, {"XDG_CONFIG_HOME=" + config});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(std::string(tmpl) + "/page.htm"), page);
    EXPECT_TRUE(Exists(dir.File("page.htm")));
}

// Kills runs at random moments. Afterwards the path holds the original or
// the whole cleaned page, never nothing; the original is at the path, in
// the trash or under the page's hidden name; no partial page and no other
// stray file ever remain.
TEST(Faults, KilledAtAnyMoment)
{
    int rounds = getenv("WEBTRIM_KILL_ROUNDS") ? atoi(getenv("WEBTRIM_KILL_ROUNDS")) : 200;
    TempDir dir;
    std::string folder = dir.File("pages");
    std::string data = dir.File("data");
    mkdir(folder.c_str(), 0755);
    std::vector<std::string> env = {"XDG_DATA_HOME=" + data};
    const std::string page = Page(2000000);
    std::string path = folder + "/page.htm";

    // One undisturbed run gives the cleaned page and its duration.
    WriteFile(path, page);
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    ASSERT_EQ(RunWebtrim({path}, env).status, 0);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    const std::string cleaned = ReadFile(path);
    ASSERT_NE(cleaned, page);
    long micros = (t1.tv_sec - t0.tv_sec) * 1000000L + (t1.tv_nsec - t0.tv_nsec) / 1000;

    srand(12345);
    int sawOriginal = 0, sawCleaned = 0, sawTrashed = 0, sawHidden = 0;
    for (int i = 0; i < rounds; i++) {
        system(("rm -rf '" + data + "'").c_str());
        WriteFile(path, page);
        int pid = StartWebtrim({path}, env);
        usleep((useconds_t)(rand() % (micros + micros / 5 + 1)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);

        std::string trashed = data + "/Trash/files/page.htm";
        ASSERT_TRUE(Exists(path)) << "no page at the path in round " << i;
        std::string now = ReadFile(path);
        ASSERT_TRUE(now == page || now == cleaned) << "partial page in round " << i;
        (now == page ? sawOriginal : sawCleaned)++;
        bool originalKept = now == page || (Exists(trashed) && ReadFile(trashed) == page);
        sawTrashed += Exists(trashed);
        // A kill nothing can catch may leave the cleaned page, or the
        // original it swapped out, under the hidden name: whole, and
        // never anything else.
        for (const std::string &name : ListFolder(folder)) {
            if (name == "page.htm")
                continue;
            ASSERT_EQ(name.compare(0, 3, ".wt"), 0) << "leftover " << name << " in round " << i;
            std::string left = ReadFile(folder + "/" + name);
            ASSERT_TRUE(left == cleaned || left == page) << "partial " << name << " in round " << i;
            originalKept = originalKept || left == page;
            sawHidden++;
            remove((folder + "/" + name).c_str());
        }
        ASSERT_TRUE(originalKept) << "original lost in round " << i;
    }
    RecordProperty("micros", (int)micros);
    RecordProperty("original", sawOriginal);
    RecordProperty("cleaned", sawCleaned);
    RecordProperty("trashed", sawTrashed);
    RecordProperty("hidden", sawHidden);
    EXPECT_GT(sawOriginal + sawCleaned, 0);
}
