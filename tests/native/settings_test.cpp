// The settings file of POSIX desktops: what a first start writes, which
// stored values load, what counts as a failed load (both values back to
// their defaults, the file left as it is, one line saying why), and Save.
#include <gtest/gtest.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "app/options.h"
#include "app/settings.h"
#include "tests/native/support.h"

// The settings record the tests load into and save from, as a front end
// keeps one, and the line the command line writes when the store says why.
static Settings Kept;

static void LoadSettings()
{
    char problem[8192];
    if (!LoadSettings(&Kept, true, problem, sizeof problem))
        fprintf(stderr, "webtrim: %s; using the default settings\n", problem);
}

static void SaveSettings()
{
    char problem[8192];
    if (!SaveSettings(&Kept, problem, sizeof problem))
        fprintf(stderr, "webtrim: %s\n", problem);
}

// What `proc` writes to standard error.
static std::string StderrOf(void (*proc)())
{
    testing::internal::CaptureStderr();
    proc();
    return testing::internal::GetCapturedStderr();
}

struct SettingsFile : ::testing::Test {
    TempDir dir;
    std::string folder = dir.File("webtrim");
    std::string file = folder + "/webtrim.ini";
    std::string savedHome;

    void SetUp() override
    {
        savedHome = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
        setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
        Scribble();
    }
    void TearDown() override { setenv("XDG_CONFIG_HOME", savedHome.c_str(), 1); }

    // Values that any load must replace.
    static void Scribble()
    {
        Kept.word = 0x5A5A5A5A;
        memset(Kept.targetFolder, 'q', sizeof Kept.targetFolder - 1);
        Kept.targetFolder[sizeof Kept.targetFolder - 1] = 0;
    }
    void Store(const std::string &content)
    {
        mkdir(folder.c_str(), 0700);
        WriteFile(file, content);
    }
    void ExpectOnlyTheFile() { EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"webtrim.ini"}); }
};

static const char kDefaultsText[] = "[Webtrim]\nw0=0x100053BF\nw1=\n";

TEST_F(SettingsFile, FirstStartWritesTheDefaults)
{
    EXPECT_EQ(StderrOf(LoadSettings), "");
    EXPECT_EQ(Kept.word, kDefaultOptions);
    EXPECT_STREQ(Kept.targetFolder, "");
    EXPECT_EQ(ReadFile(file), kDefaultsText);
    ExpectOnlyTheFile();
    // Empty, as a parallel first run may have just claimed it: left for
    // that run to fill, without a word.
    Store("");
    Scribble();
    EXPECT_EQ(StderrOf(LoadSettings), "");
    EXPECT_EQ(Kept.word, kDefaultOptions);
    EXPECT_EQ(ReadFile(file), "");
}

TEST_F(SettingsFile, StoredValuesLoad)
{
    const std::string longest(259, 'L');
    const struct {
        const char *w0, *w1;
        uint32_t options;
        std::string folder;
    } cases[] = {
        {"0x00000100", "/srv/pages", 0x100, "/srv/pages"},
        {"4096", "", 4096, ""},
        {"010", "", 8, ""},
        {" 0xffffffff ", "", 0xFFFFFFFF, ""},
        {"0", longest.c_str(), 0, longest},
        {"1", "a\\\\b\\nc\\040", 1, "a\\b\nc "},
    };
    for (const auto &c : cases) {
        Store(std::string("[Webtrim]\nw0=") + c.w0 + "\nw1=" + c.w1 + "\n");
        Scribble();
        LoadSettings();
        EXPECT_EQ(Kept.word, c.options) << c.w0;
        EXPECT_EQ(std::string(Kept.targetFolder), c.folder) << c.w1;
    }
    // As an editor on Windows may save it: a byte order mark, CR LF.
    Store("\xEF\xBB\xBF[Webtrim]\r\nw0=7\r\nw1=/a\r\n");
    EXPECT_EQ(StderrOf(LoadSettings), "");
    EXPECT_EQ(Kept.word, 7u);
    EXPECT_STREQ(Kept.targetFolder, "/a");
}

TEST_F(SettingsFile, AFileThatFailsToLoadIsLeftAsItIsAndSaysWhy)
{
    enum Kind { kText, kFolder, kPipe, kDanglingLink, kLinkLoop };
    const std::string tooLong(260, 'L');
    const char *notKeyFile = "not a key file: line 3 is not a [group], key=value or # comment";
    const struct {
        Kind kind;
        std::string content;
        std::string why;
    } cases[] = {
        {kText, "[Webtrim]\nw0=0x00000100\n", "w1 is missing"},
        {kText, "[Webtrim]\nw1=/srv\n", "w0 is missing"},
        {kText, "[Other]\nw0=1\nw1=\n", "no [Webtrim] group"},
        {kText, "[Webtrim]\nw0=0x1G\nw1=\n", "w0 is not a 32-bit number: \"0x1G\""},
        {kText, "[Webtrim]\nw0=-1\nw1=\n", "w0 is not a 32-bit number: \"-1\""},
        {kText, "[Webtrim]\nw0=+1\nw1=\n", "w0 is not a 32-bit number: \"+1\""},
        {kText, "[Webtrim]\nw0=\nw1=\n", "w0 is not a 32-bit number: \"\""},
        {kText, "[Webtrim]\nw0=08\nw1=\n", "w0 is not a 32-bit number: \"08\""},
        {kText, "[Webtrim]\nw0=0x100000000\nw1=\n", "w0 is not a 32-bit number: \"0x100000000\""},
        {kText, "[Webtrim]\nw0=" + std::string(50, '9') + "\n",
         "w0 is not a 32-bit number: \"" + std::string(40, '9') + "...\""},
        {kText, "[Webtrim]\nw0=1\nw1=" + tooLong + "\n", "w1 is too long: 260 bytes, at most 259"},
        {kText, "[Webtrim]\nw0=1\nw1=" + std::string(100000, 'L') + "\n",
         "w1 is too long: 100000 bytes, at most 259"},
        {kText, "[Webtrim]\nw0=1\nw1=/srv\\\n", "w1 ends in a lone backslash"},
        {kText, "[Webtrim]\nw0=1\nw1=/srv\\400x\n", "w1 holds an escaped zero byte"},
        {kText, "# mine\n[Webtrim]\nw0 1\nw1=\n", notKeyFile},
        {kText, "# mine\n\n\xEF\xBB\xBF[Webtrim]\nw0=1\nw1=\n", notKeyFile},
        {kText, "[Webtrim]\nw0=1\n# c\n[Webtrim", "not a key file: line 4 is not a [group], key=value or # comment"},
        {kText, std::string("\0\xff[[\n=\x80\n", 9), "not a key file: line 1 holds a zero byte"},
        {kText, "# mine\n" + std::string(1 << 20, '#'), "larger than 1048576 bytes"},
        {kFolder, "", "a folder, not a file"},
        {kPipe, "", "not a regular file"},        // and the start-up does not block on it
        {kDanglingLink, "", "a symbolic link to a file that is not there"},
        {kLinkLoop, "", "cannot be read: Too many levels of symbolic links"},
    };
    mkdir(folder.c_str(), 0700);
    for (const auto &c : cases) {
        remove(file.c_str());
        int made = c.kind == kText     ? (WriteFile(file, c.content), chmod(file.c_str(), 0604))
                   : c.kind == kFolder ? mkdir(file.c_str(), 0700)
                   : c.kind == kPipe   ? mkfifo(file.c_str(), 0600)
                                       : symlink(c.kind == kLinkLoop ? "webtrim.ini" : "gone", file.c_str());
        ASSERT_EQ(made, 0) << c.why;
        struct stat before, after;
        lstat(file.c_str(), &before);
        Scribble();
        alarm(20);
        std::string said = StderrOf(LoadSettings);
        alarm(0);
        EXPECT_EQ(Kept.word, kDefaultOptions) << c.why;
        EXPECT_STREQ(Kept.targetFolder, "") << c.why;
        EXPECT_EQ(said, "webtrim: " + file + ": not used (" + c.why + "); using the default settings\n");
        ASSERT_EQ(lstat(file.c_str(), &after), 0) << c.why;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.why;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.why;
        EXPECT_EQ(c.kind == kText ? ReadFile(file) : "", c.content) << c.why;
        ExpectOnlyTheFile();
    }
    remove(file.c_str());
}

TEST_F(SettingsFile, AnyFolderBytesSurviveSaveAndLoad)
{
    std::string folderText = "  ";
    for (int b = 1; b <= 255; b++)
        folderText.push_back((char)b);
    folderText += "\\";
    ASSERT_LT(folderText.size(), sizeof Kept.targetFolder);
    LoadSettings();                     // creates the file
    Kept.word = 0xDEADBEEF;
    strcpy(Kept.targetFolder, folderText.c_str());
    SaveSettings();
    Scribble();
    LoadSettings();
    EXPECT_EQ(Kept.word, 0xDEADBEEFu);
    EXPECT_EQ(std::string(Kept.targetFolder), folderText);
}

TEST_F(SettingsFile, SaveWithoutAKeyFileSavesNothing)
{
    const std::string none = "webtrim: " + file + ": settings not saved (no settings file)\n";
    EXPECT_EQ(StderrOf(SaveSettings), none);
    EXPECT_FALSE(Exists(folder));
    mkdir(folder.c_str(), 0700);
    EXPECT_EQ(StderrOf(SaveSettings), none);
    EXPECT_FALSE(Exists(file));
    Store("w0=1\n");
    EXPECT_EQ(StderrOf(SaveSettings), "webtrim: " + file + ": settings not saved (not a key file: "
                                      "line 1 is not a [group], key=value or # comment)\n");
    EXPECT_EQ(ReadFile(file), "w0=1\n");
    ExpectOnlyTheFile();
}

// Save writes a new file and renames it over the link's target: the link,
// the user's comments and other keys, a wrong w0, owner and mode.
TEST_F(SettingsFile, SaveReplacesOnlyTheValuesAtTheLinksTarget)
{
    const std::string real = dir.File("dotfiles"), target = real + "/webtrim.ini";
    mkdir(real.c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    WriteFile(target, "\xEF\xBB\xBF# mine\n[Other]\nName[de]=x\n[Webtrim]\n# where\nw0=typo\nw1=/old\n");
    chmod(target.c_str(), 0604);
    unsigned uid = geteuid(), gid = getegid();
    ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
    struct stat before, after;
    stat(target.c_str(), &before);
    Kept.word = 0x1234;
    strcpy(Kept.targetFolder, "/new");
    for (int save = 0; save < 2; save++) {      // a second save changes nothing
        EXPECT_EQ(StderrOf(SaveSettings), "");
        EXPECT_EQ(ReadFile(target), "\xEF\xBB\xBF# mine\n\n[Other]\nName[de]=x\n\n"
                                    "[Webtrim]\n# where\nw0=0x00001234\nw1=/new\n");
        ASSERT_EQ(stat(target.c_str(), &after), 0);
        EXPECT_TRUE(save || after.st_ino != before.st_ino);    // a new file, not rewritten in place
    }
    ASSERT_EQ(lstat(file.c_str(), &after), 0);
    EXPECT_TRUE(S_ISLNK(after.st_mode));
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, uid);
    EXPECT_EQ(after.st_gid, gid);
    EXPECT_EQ(ListFolder(real), std::vector<std::string>{"webtrim.ini"});
    ExpectOnlyTheFile();
}

// Root with another user's settings (sudo -E): the folder, a file or a link
// of that user's is not used, the defaults are (said once), and nothing is
// saved through them.
TEST_F(SettingsFile, AnotherUsersSettingsAreNotUsed)
{
    unsigned uid, gid;
    if (geteuid() != 0 || !NobodyIds(&uid, &gid))
        GTEST_SKIP() << "needs root and an unprivileged user";
    const std::string secret = dir.File("secret.ini");
    WriteFile(secret, "[Webtrim]\nw0=0x1\nw1=/root-only\n");
    chmod(secret.c_str(), 0600);
    enum Kind { kFolder, kFile, kLink };
    for (Kind kind : {kFolder, kFile, kLink}) {
        system(("rm -rf '" + folder + "'").c_str());
        Store("[Webtrim]\nw0=0x2\nw1=/theirs\n");
        if (kind == kFolder) {
            ASSERT_EQ(chown(folder.c_str(), uid, gid), 0);
        }
        if (kind == kFile) {
            ASSERT_EQ(chown(file.c_str(), uid, gid), 0);
        }
        if (kind == kLink) {
            // Their link to root's own file: not followed, not written.
            remove(file.c_str());
            ASSERT_EQ(symlink(secret.c_str(), file.c_str()), 0);
            ASSERT_EQ(lchown(file.c_str(), uid, gid), 0);
        }
        Scribble();
        std::string said = StderrOf(LoadSettings);
        EXPECT_EQ(Kept.word, kDefaultOptions) << kind;
        EXPECT_NE(said.find("not used ("), std::string::npos) << said;
        EXPECT_NE(said.find("; using the default settings"), std::string::npos) << said;
        Kept.word = 0x77;
        EXPECT_NE(StderrOf(SaveSettings).find("settings not saved"), std::string::npos) << kind;
        EXPECT_EQ(ReadFile(secret), "[Webtrim]\nw0=0x1\nw1=/root-only\n");
        if (kind != kLink) {
            EXPECT_EQ(ReadFile(file), "[Webtrim]\nw0=0x2\nw1=/theirs\n");
        }
    }
}

// An older version's file is taken over once, by copy: the new file gets
// its content and mode, the old one stays; a later change to the old one
// no longer counts.
TEST_F(SettingsFile, OlderVersionsFileIsCopiedOnce)
{
    const std::string old = dir.File("halvane"), oldFile = old + "/webtrim.ini";
    mkdir(old.c_str(), 0700);
    const std::string text = "# kept\n[Webtrim]\nw0=0x10000100\nw1=/srv/old\n";
    WriteFile(oldFile, text);
    chmod(oldFile.c_str(), 0640);
    EXPECT_EQ(StderrOf(LoadSettings), "");
    EXPECT_EQ(Kept.word, 0x10000100u);
    EXPECT_STREQ(Kept.targetFolder, "/srv/old");
    EXPECT_EQ(ReadFile(file), text);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadFile(oldFile), text);
    WriteFile(oldFile, "[Webtrim]\nw0=0x1\nw1=\n");
    LoadSettings();
    EXPECT_EQ(Kept.word, 0x10000100u);
}

// chmod 000 stops only an unprivileged user: as root, the load runs in a
// child that has become nobody, which owns the settings folder.
TEST_F(SettingsFile, UnreadableFileIsAFailedLoad)
{
    Store("[Webtrim]\nw0=0x1\nw1=/srv\n");
    chmod(file.c_str(), 0);
    bool root = geteuid() == 0;
    if (root) {
        chmod(dir.path.c_str(), 0711);
        if (chown(folder.c_str(), 65534, 65534) != 0 || chown(file.c_str(), 65534, 65534) != 0)
            GTEST_SKIP() << "cannot hand the folder to nobody";
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (root && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                     setresuid(65534, 65534, 65534) != 0))
            _exit(77);
        int fd = open(file.c_str(), O_RDONLY);
        if (fd >= 0 || errno != EACCES)
            _exit(77);
        std::string said = StderrOf(LoadSettings);
        _exit(Kept.word == kDefaultOptions && Kept.targetFolder[0] == 0 &&
                      said == "webtrim: " + file + ": not used (cannot be read: Permission denied); "
                                                   "using the default settings\n"
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot load as an unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child did not fall back to the defaults and say why";
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u);
    chmod(file.c_str(), 0600);
    EXPECT_EQ(ReadFile(file), "[Webtrim]\nw0=0x1\nw1=/srv\n");
}

// 20 first runs of the real program at once (each loads the settings, then
// prints them), also where the file system refuses a rename that does
// not replace, then hard links too (strace fails those calls): one whole
// file, and no run found it half made. Then one run is held at the call
// that takes the name until the user's own file has appeared there.
TEST(SettingsCreation, FirstRunsNeverReplaceAFile)
{
    if (system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is missing";
    const struct {
        std::string refused;
        const char *claim;
    } cases[] = {
        {"", "renameat2"},
        {" -e inject=renameat2:error=EINVAL", nullptr},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string folder = dir.File("webtrim"), file = folder + "/webtrim.ini";
        auto run = [&](const std::string &inject) {
            return "XDG_CONFIG_HOME=" + dir.path + " strace -f -qq -o /dev/null" + c.refused + inject +
                   " " WEBTRIM_EXE " --settings >/dev/null 2>>" + dir.File("stderr") + " &";
        };
        ASSERT_EQ(system(("for i in $(seq 20); do " + run("") + " done; wait").c_str()), 0);
        EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"webtrim.ini"});
        EXPECT_EQ(ReadFile(file), kDefaultsText);
        EXPECT_EQ(ReadFile(dir.File("stderr")).find("not used"), std::string::npos) << ReadFile(dir.File("stderr"));
        if (!c.claim)
            continue;
        remove(file.c_str());
        const std::string held = run(std::string(" -e inject=") + c.claim + ":delay_enter=2000000") +
                                 " for t in $(seq 1000); do [ -s " + folder + "/.wt* ] && break;"
                                 " sleep 0.01; done; printf '[Webtrim]\\nw0=1\\n' >" + file + "; wait";
        ASSERT_EQ(system(held.c_str()), 0);
        EXPECT_EQ(ReadFile(file), "[Webtrim]\nw0=1\n");
        EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"webtrim.ini"});
        EXPECT_NE(ReadFile(dir.File("stderr")).find(file + ": not used (w1 is missing)"), std::string::npos);
    }
}

TEST(SettingsDefault, KeepsSchemeTargetAndHighBits)
{
    const uint32_t cases[][2] = {
        {0xFFFFFFFF, 0xFFFF53BF},
        {0x00000000, 0x000053BF},
        {0x0200ECFF, 0x020053BF},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ResetWord(c[0]), c[1]) << std::hex << c[0];
}
