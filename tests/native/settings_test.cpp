// The settings file of POSIX desktops: what a first start writes, which
// stored values load, what counts as a failed load (both values back to
// their defaults and written again), and Save.
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
#include "app/options.h"
#include "app/settings.h"
#include "tests/native/support.h"

struct SettingsFile : ::testing::Test {
    TempDir dir;
    std::string folder = dir.File("halvane");
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
        CleanOptions = 0x5A5A5A5A;
        memset(TargetFolder, 'q', sizeof TargetFolder - 1);
        TargetFolder[sizeof TargetFolder - 1] = 0;
    }
    void Store(const std::string &content)
    {
        mkdir(folder.c_str(), 0700);
        WriteFile(file, content);
    }
    void ExpectDefaultsWritten(const std::string &why)
    {
        EXPECT_EQ(CleanOptions, kDefaultOptions) << why;
        EXPECT_STREQ(TargetFolder, "") << why;
        ExpectDefaultsStored(why);
    }
    void ExpectDefaultsStored(const std::string &why)
    {
        std::string text = ReadFile(file);
        EXPECT_NE(text.find("[Webtrim]\n"), std::string::npos) << why << "\n" << text;
        EXPECT_NE(text.find("\nw0=0x100013BF\n"), std::string::npos) << why << "\n" << text;
        EXPECT_NE(text.find("\nw1=\n"), std::string::npos) << why << "\n" << text;
    }
};

TEST_F(SettingsFile, FirstStartWritesTheDefaults)
{
    LoadSettings();
    ExpectDefaultsWritten("no file");
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
        EXPECT_EQ(CleanOptions, c.options) << c.w0;
        EXPECT_EQ(std::string(TargetFolder), c.folder) << c.w1;
    }
}

TEST_F(SettingsFile, FailedLoadsFallBackToTheDefaults)
{
    const std::string tooLong(260, 'L');
    const std::string files[] = {
        "[Webtrim]\nw0=0x00000100\n",                       // w1 missing
        "[Webtrim]\nw1=/srv\n",                              // w0 missing
        "[Other]\nw0=1\nw1=\n",
        "[Webtrim]\nw0=red\nw1=\n",
        "[Webtrim]\nw0=-1\nw1=\n",
        "[Webtrim]\nw0=+1\nw1=\n",
        "[Webtrim]\nw0=\nw1=\n",
        "[Webtrim]\nw0=08\nw1=\n",
        "[Webtrim]\nw0=0x100000000\nw1=\n",
        "[Webtrim]\nw0=99999999999999999999999\nw1=\n",
        "[Webtrim]\nw0=1\nw1=" + tooLong + "\n",
        "[Webtrim]\nw0=1\nw1=" + std::string(100000, 'L') + "\n",
        "[Webtrim]\nw0=1\nw1=/srv\\\n",                     // a lone backslash at the end
        "",
        std::string("\0\xff[[\n=\x80\n", 9),
    };
    for (const std::string &content : files) {
        Store(content);
        Scribble();
        LoadSettings();
        ExpectDefaultsWritten(content.substr(0, 60));
    }
}

TEST_F(SettingsFile, NoFileAtThePathIsAFailedLoad)
{
    mkdir(folder.c_str(), 0700);
    mkdir(file.c_str(), 0700);
    LoadSettings();
    EXPECT_EQ(CleanOptions, kDefaultOptions);
    EXPECT_STREQ(TargetFolder, "");
    rmdir(file.c_str());

    // A pipe must not block the start-up.
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    Scribble();
    alarm(20);
    LoadSettings();
    alarm(0);
    ExpectDefaultsWritten("a pipe");
}

TEST_F(SettingsFile, AnyFolderBytesSurviveSaveAndLoad)
{
    std::string folderText = "  ";
    for (int b = 1; b <= 255; b++)
        folderText.push_back((char)b);
    folderText += "\\";
    ASSERT_LT(folderText.size(), sizeof TargetFolder);
    LoadSettings();                     // creates the file
    CleanOptions = 0xDEADBEEF;
    strcpy(TargetFolder, folderText.c_str());
    SaveSettings();
    Scribble();
    LoadSettings();
    EXPECT_EQ(CleanOptions, 0xDEADBEEFu);
    EXPECT_EQ(std::string(TargetFolder), folderText);
}

TEST_F(SettingsFile, SaveWithoutTheFileSavesNothing)
{
    SaveSettings();
    EXPECT_FALSE(Exists(folder));
    mkdir(folder.c_str(), 0700);
    SaveSettings();
    EXPECT_FALSE(Exists(file));
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
        LoadSettings();
        _exit(CleanOptions == kDefaultOptions && TargetFolder[0] == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot load as an unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child did not fall back to the defaults";
    chmod(file.c_str(), 0600);
    ExpectDefaultsStored("unreadable file, rewritten by its owner");
}

TEST(SettingsDefault, KeepsSchemeTargetAndHighBits)
{
    const uint32_t cases[][2] = {
        {0xFFFFFFFF, 0xFFFF13BF},
        {0x00000000, 0x000013BF},
        {0x0200ECFF, 0x020013BF},
    };
    for (const auto &c : cases) {
        CleanOptions = c[0];
        ResetOptions();
        EXPECT_EQ(CleanOptions, c[1]) << std::hex << c[0];
    }
}
