// The trash as the desktops keep it: which trash each page goes to, its
// record there, free names, the original brought back when the cleaned page
// cannot take its path, and pages that lie inside a trash. The other file
// systems are made by the test: an ext4 image on a loop device and a tmpfs.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <regex>
#include "tests/native/support.h"

enum Place { kHomeFs, kTmpfs, kDevShm, kExt4 };
// What the top of the ext4 holds before the run.
enum Top {
    kTopBare,
    kAdminTrash,
    kAdminTrashNotSticky,
    kAdminTrashIsLink,
    kUidFolderNotOwned,
    kOwnTrashNotOwned,
    kOwnTrashIsLink
};

struct TrashTest : ::testing::Test {
    SharedDir d;
    std::string ext4 = d.dir.File("ext4"), tmpfs = d.dir.File("tmpfs");
    std::string original = Page(5000), cleaned;
    bool mounted = false;

    void SetUp() override
    {
        unsigned uid, gid;
        if (!NobodyIds(&uid, &gid))
            GTEST_SKIP() << "needs root and an unprivileged user";
        std::string image = d.dir.File("ext4.img");
        mkdir(ext4.c_str(), 0777);
        mkdir(tmpfs.c_str(), 0777);
        if (system(("truncate -s 8M '" + image + "' && mkfs.ext4 -q -F '" + image + "' && mount -o loop '" +
                    image + "' '" + ext4 + "' 2>/dev/null")
                       .c_str()) != 0)
            GTEST_SKIP() << "cannot mount an ext4 image here";
        mounted = true;
        if (mount("tmpfs", tmpfs.c_str(), "tmpfs", 0, "size=4m,mode=0777") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here";
        std::string home = d.dir.File("p.htm");
        WriteFile(home, original);
        ASSERT_EQ(RunWebtrim({home}, d.env).status, 0);
        cleaned = ReadFile(home);
        d.EmptyTrash();
    }
    void TearDown() override
    {
        if (mounted) {
            umount(tmpfs.c_str());
            system(("umount '" + ext4 + "'").c_str());
        }
    }
    // The folder of the place, made open to everyone.
    std::string Folder(Place p)
    {
        std::string f = p == kHomeFs ? d.dir.File("pages")
            : p == kTmpfs            ? tmpfs + "/pages"
            : p == kDevShm           ? shm.path
                                     : ext4 + "/pages";
        mkdir(f.c_str(), 0777);
        chmod(f.c_str(), 0777);
        return f;
    }
    std::string HomeTrash() const { return d.dir.File("home/data/Trash"); }
    TempDir shm{"/dev/shm"};
};

static std::string Uid(bool nobody)
{
    unsigned uid = 0, gid;
    if (nobody)
        NobodyIds(&uid, &gid);
    return std::to_string(uid);
}

static void Own(const std::string &path, bool nobody)
{
    unsigned uid = 0, gid = 0;
    if (nobody)
        NobodyIds(&uid, &gid);
    lchown(path.c_str(), uid, gid);
}

// The record of a trashed file, its date checked: local time of the run,
// a few minutes at most before the check.
static std::string PathRecorded(const std::string &info)
{
    std::smatch m;
    std::string text = ReadFile(info);
    static const std::regex kRecord(
        "\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4})-(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\n");
    if (!std::regex_match(text, m, kRecord))
        return "malformed: " + text;
    // The runs are given TZ=UTC-5: their local time is five hours ahead.
    struct tm t = {};
    t.tm_year = std::stoi(m[2]) - 1900;
    t.tm_mon = std::stoi(m[3]) - 1;
    t.tm_mday = std::stoi(m[4]);
    t.tm_hour = std::stoi(m[5]);
    t.tm_min = std::stoi(m[6]);
    t.tm_sec = std::stoi(m[7]);
    long ago = (long)(time(nullptr) + 5 * 3600 - timegm(&t));
    if (ago < 0 || ago > 300)
        return "dated " + std::to_string(ago) + " s ago";
    return m[1];
}

// Each page to the trash of its file system, by a rename; to the home trash
// by a copy from a tmpfs, or where the top of its file system takes no
// trash. Path= is absolute in the home trash, from the top elsewhere.
TEST_F(TrashTest, EachPageGoesToTheTrashOfItsFileSystem)
{
    const struct {
        const char *name;
        Place place;
        Top top;
        bool nobody;
        const char *trash;  // below the test folder: home/..., ext4/... (UID: the runner's)
        bool relative;      // Path= from the top
    } cases[] = {
        {"home's file system", kHomeFs, kTopBare, false, "home/data/Trash", false},
        {"home's file system, as a user", kHomeFs, kTopBare, true, "home/data/Trash", false},
        {"a tmpfs: copied home", kTmpfs, kTopBare, false, "home/data/Trash", false},
        {"/dev/shm: copied home", kDevShm, kTopBare, false, "home/data/Trash", false},
        {"another file system", kExt4, kTopBare, false, "ext4/.Trash-UID", true},
        {"its shared trash", kExt4, kAdminTrash, false, "ext4/.Trash/UID", true},
        {"its shared trash, as a user", kExt4, kAdminTrash, true, "ext4/.Trash/UID", true},
        {"a top the user cannot write: copied home", kExt4, kTopBare, true, "home/data/Trash", false},
        {"a shared trash without the sticky bit", kExt4, kAdminTrashNotSticky, false, "ext4/.Trash-UID",
         true},
        {"a shared trash that is a link", kExt4, kAdminTrashIsLink, false, "ext4/.Trash-UID", true},
        {"the user's folder in it is another's", kExt4, kUidFolderNotOwned, false, "ext4/.Trash-UID", true},
        {"its own trash is another's: copied home", kExt4, kOwnTrashNotOwned, false, "home/data/Trash",
         false},
        {"its own trash is a link: copied home", kExt4, kOwnTrashIsLink, false, "home/data/Trash", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        system(("rm -rf '" + ext4 + "'/.Trash* '" + ext4 + "/elsewhere'").c_str());
        d.EmptyTrash();
        std::string uid = Uid(c.nobody), elsewhere = ext4 + "/elsewhere";
        mkdir(elsewhere.c_str(), 01777);
        chmod(elsewhere.c_str(), 01777);
        std::string shared = ext4 + "/.Trash";
        if (c.top == kAdminTrash || c.top == kAdminTrashNotSticky || c.top == kUidFolderNotOwned) {
            mkdir(shared.c_str(), 0777);
            chmod(shared.c_str(), c.top == kAdminTrashNotSticky ? 0777 : 01777);
        }
        if (c.top == kUidFolderNotOwned) {
            mkdir((shared + "/" + uid).c_str(), 0777);
            Own(shared + "/" + uid, true);
        }
        if (c.top == kAdminTrashIsLink)
            symlink("elsewhere", shared.c_str());
        std::string own = ext4 + "/.Trash-" + uid;
        if (c.top == kOwnTrashNotOwned) {
            mkdir(own.c_str(), 0700);
            Own(own, true);
        }
        if (c.top == kOwnTrashIsLink)
            symlink("elsewhere", own.c_str());

        std::string folder = Folder(c.place), page = folder + "/page.htm";
        WriteFile(page, original);
        Own(page, c.nobody);
        ChildOptions as;
        as.asNobody = c.nobody;
        std::vector<std::string> env = d.env;
        env.push_back("TZ=UTC-5");
        ChildResult r = RunWebtrim({page}, env, as);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(page) == cleaned);
        std::string trash = d.dir.File(c.trash);
        size_t at = trash.find("UID");
        if (at != std::string::npos)
            trash.replace(at, 3, uid);
        EXPECT_TRUE(ReadFile(trash + "/files/page.htm") == original) << trash;
        EXPECT_EQ(ListFolder(trash + "/files"), std::vector<std::string>{"page.htm"});
        std::string recorded = c.relative ? page.substr(ext4.size() + 1) : page;
        EXPECT_EQ(PathRecorded(trash + "/info/page.htm.trashinfo"), recorded);
        struct stat st;
        EXPECT_TRUE(stat(trash.c_str(), &st) == 0 && st.st_uid == (unsigned)std::stoul(uid) &&
                    ((st.st_mode & 07777) == 0700 || c.top == kAdminTrash))
            << "the trash folder's owner or mode";
        EXPECT_TRUE(ListFolder(elsewhere).empty()) << "a link was followed";
        EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"page.htm"});
        unlink(page.c_str());
    }
}

// A name taken in the trash (by a record, or by a file without one) gives
// the next number, before the extension; the record's path keeps every
// byte of the name, percent-encoded.
TEST_F(TrashTest, NamesTakenAndNamesEncoded)
{
    const struct {
        const char *page;
        std::vector<std::string> taken;  // in the home trash before the run
        const char *trashedAs;
        const char *recordedName;
    } cases[] = {
        {"page.htm", {}, "page.htm", "page.htm"},
        {"page.htm", {"info/page.htm.trashinfo"}, "page.2.htm", "page.htm"},
        {"page.htm", {"files/page.htm"}, "page.2.htm", "page.htm"},
        {"page.htm",
         {"files/page.htm", "info/page.htm.trashinfo", "info/page.2.htm.trashinfo"},
         "page.3.htm",
         "page.htm"},
        {"a.b.htm", {"info/a.b.htm.trashinfo"}, "a.b.2.htm", "a.b.htm"},
        {"a b%\xC3\xA9~_-.htm", {}, "a b%\xC3\xA9~_-.htm", "a%20b%25%C3%A9~_-.htm"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.trashedAs);
        d.EmptyTrash();
        mkdir(HomeTrash().c_str(), 0700);
        mkdir((HomeTrash() + "/files").c_str(), 0700);
        mkdir((HomeTrash() + "/info").c_str(), 0700);
        for (const std::string &t : c.taken) {
            WriteFile(HomeTrash() + "/" + t, "older");
            // A record without its file is another run's under way (not
            // older than this run, so not swept as an orphan).
            struct timespec later[2] = {{time(NULL) + 3600, 0}, {time(NULL) + 3600, 0}};
            utimensat(AT_FDCWD, (HomeTrash() + "/" + t).c_str(), later, 0);
        }
        std::string folder = Folder(kHomeFs), page = folder + "/" + c.page;
        WriteFile(page, original);
        ChildResult r = RunWebtrim({page}, d.env);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(HomeTrash() + "/files/" + c.trashedAs) == original);
        std::string info = HomeTrash() + "/info/" + c.trashedAs + ".trashinfo";
        std::string text = ReadFile(info);
        EXPECT_EQ(text.substr(0, text.find("\nDeletionDate=")),
                  "[Trash Info]\nPath=" + folder + "/" + c.recordedName);
        // Nothing else came or went: the names taken stay as they were.
        std::vector<std::string> files = ListFolder(HomeTrash() + "/files"),
                                 infos = ListFolder(HomeTrash() + "/info");
        EXPECT_EQ(files.size() + infos.size(), c.taken.size() + 2);
        for (const std::string &t : c.taken)
            EXPECT_EQ(ReadFile(HomeTrash() + "/" + t), "older");
        unlink(page.c_str());
    }
}

// Where names cannot be exchanged (the original leaves first), when the
// cleaned page cannot take the path, the original comes back from
// whichever trash it went to (from the home trash by a copy again), and its
// record goes (from the home trash by a rename: SafetyTest's races).
TEST_F(TrashTest, OriginalComesBackWhenTheCleanedPageCannotBePlaced)
{
    const struct {
        const char *name;
        Place place;
        const char *placing;  // the renameat2 that places the cleaned page
        const char *trash;
    } cases[] = {
        {"trash at the top", kExt4, "renameat2:error=EIO:when=2", "ext4/.Trash-0"},
        // The copy into the home trash takes its name with a renameat2 too.
        {"copied home from a tmpfs", kTmpfs, "renameat2:error=EIO:when=3", "home/data/Trash"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        d.EmptyTrash();
        std::string folder = Folder(c.place), page = folder + "/page.htm";
        WriteFile(page, original);
        struct stat before;
        stat(page.c_str(), &before);
        ChildOptions traced;
        traced.strace = {"-e", std::string("inject=") + c.placing};
        std::vector<std::string> env = d.env;
        env.push_back(std::string("LD_PRELOAD=") + NOEXCHANGE_LIB);
        ChildResult r = RunWebtrim({page}, env, traced);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "webtrim: " + page + ": Cannot write the cleaned page: Input/output error\n");
        EXPECT_TRUE(ReadFile(page) == original);
        EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"page.htm"});
        std::string trash = d.dir.File(c.trash);
        EXPECT_TRUE(ListFolder(trash + "/files").empty());
        EXPECT_TRUE(ListFolder(trash + "/info").empty());
        unlink(page.c_str());
    }
}

// A page that lies inside a trash is refused, whatever trash it is; a
// folder that only bears a trash's name is not a trash.
TEST_F(TrashTest, PagesInsideATrashAreRefused)
{
    const std::string realData = d.dir.File("real-data");
    const struct {
        const char *name;
        std::string folder;
        bool refused;
        bool dataThroughLink;  // XDG_DATA_HOME names a link to the real folder
    } cases[] = {
        {"home trash", HomeTrash() + "/files", true, false},
        {"below it", HomeTrash() + "/files/saved/site", true, false},
        {"home trash named through a link", realData + "/Trash/files", true, true},
        {"the top's own trash", ext4 + "/.Trash-0/files", true, false},
        {"another user's at the top", ext4 + "/.Trash-1000/files", true, false},
        {"the top's shared trash", ext4 + "/.Trash/0/files", true, false},
        {"a tmpfs's own trash", tmpfs + "/.Trash-0/files", true, false},
        {"a trash's name below the top", ext4 + "/pages/.Trash-0/files", false, false},
        {"a Trash folder elsewhere", d.dir.File("pages/Trash/files"), false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        d.EmptyTrash();
        system(("rm -rf '" + realData + "'").c_str());
        std::vector<std::string> env = d.env;
        if (c.dataThroughLink) {
            mkdir(realData.c_str(), 0700);
            std::string link = d.dir.File("data-link");
            unlink(link.c_str());
            symlink(realData.c_str(), link.c_str());
            env.push_back("XDG_DATA_HOME=" + link);
        }
        system(("mkdir -p '" + c.folder + "'").c_str());
        std::string page = c.folder + "/page.htm";
        WriteFile(page, original);
        ChildResult r = RunWebtrim({page}, env);
        if (c.refused) {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "webtrim: " + page + ": in the trash; pages in a trash are not cleaned\n");
            EXPECT_TRUE(ReadFile(page) == original);
            EXPECT_EQ(ListFolder(c.folder), std::vector<std::string>{"page.htm"});
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(ReadFile(page) == cleaned);
        }
        system(("rm -rf '" + c.folder + "'").c_str());
    }
}
