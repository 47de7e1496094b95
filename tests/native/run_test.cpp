// Whole cleaning runs: the run driver's paths, the write-back that loses
// nothing, and the command-line program around it.
#include <gtest/gtest.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include "app/options.h"
#include "app/messages.h"
#include "app/run.h"
#include "platform/folder.h"
#include "platform/place.h"
#include "tests/native/support.h"

static const char kPage[] = "<html><body>hello</body></html>";

// The texts as the user sees them.
static const std::string kNotPermissible =
    "The file is not permissible.\nOnly *.htm, *.html, *.plg files are allowable";
static const std::pair<std::string, unsigned> CannotOpen{"Cannot open this file", kMessageError};
static const std::pair<std::string, unsigned> CannotCreateTemp{"Cannot create temporary file",
                                                               kMessageError};

struct RunFixture : ::testing::Test {
    TempDir dir;
    std::string page;

    void SetUp() override
    {
        ClearMessages();
        CleanOptions = kDefaultOptions;
        TargetFolder[0] = 0;
        page = dir.File("page.htm");
        WriteFile(page, kPage);
        Use(page);
    }
    void TearDown() override { FileFaultHook = nullptr; }

    void Use(const std::string &path)
    {
        ASSERT_LT(path.size(), sizeof CurrentFile - 1);
        strcpy(CurrentFile, path.c_str());
    }
    void ExpectOriginalUntouched()
    {
        EXPECT_EQ(ReadFile(page), kPage);
        EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"}) << "leftovers";
    }
};

TEST_F(RunFixture, RejectedNameWarnsWithoutFlashOrChange)
{
    Use(dir.File("page.txt"));
    EXPECT_FALSE(CleaningRun());
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].first, kNotPermissible);
    EXPECT_EQ(Messages[0].second, (unsigned)kMessageWarning);
    EXPECT_EQ(RunStartedCount, 0);
}

TEST_F(RunFixture, CompletedRunLeavesCleanedPageAndTrashedOriginal)
{
    WriteFile(page, "<p>a<!-- note --></p>");
    EXPECT_TRUE(CleaningRun());
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(RunStartedCount, 1);
    EXPECT_EQ(ReadFile(page), "<p>a</p>");
    EXPECT_EQ(ReadFile(TrashFolder() + "/page.htm"), "<p>a<!-- note --></p>");
    EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"});
}

TEST_F(RunFixture, EmptyPageIsStillDisposedAndWritten)
{
    WriteFile(page, "");
    EXPECT_TRUE(CleaningRun());
    EXPECT_TRUE(Exists(page));
    EXPECT_EQ(ReadFile(page), "");
    EXPECT_TRUE(Exists(TrashFolder() + "/page.htm"));
}

TEST_F(RunFixture, PagesThatCannotBeOpened)
{
    std::string missing = dir.File("missing.htm");
    std::string folder = dir.File("folder.htm");
    std::string fifo = dir.File("fifo.htm");
    mkdir(folder.c_str(), 0755);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string &path : {missing, folder, fifo}) {
        ClearMessages();
        Use(path);
        EXPECT_FALSE(CleaningRun()) << path;
        EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{CannotOpen})) << path;
        EXPECT_EQ(RunStartedCount, 1);
        if (path == missing) {
            EXPECT_EQ(MessageErrors, std::vector<int>{ENOENT});
        }
    }
    EXPECT_EQ(ReadFile(page), kPage);
}

// Only the extraction after the element removal reads a temporary file;
// the default order reads the page in place.
static const uint32_t kExtractAfterDeleting = kDefaultOptions & ~kOptExtractFirst;

TEST_F(RunFixture, NoTemporaryFolder)
{
    const char *old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", dir.File("nowhere").c_str(), 1);
    CleanOptions = kExtractAfterDeleting;
    bool ok = CleaningRun();
    CleanOptions = kDefaultOptions;
    WriteFile(dir.File("other.htm"), kPage);
    Use(dir.File("other.htm"));
    bool defaultOk = CleaningRun();
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_FALSE(ok);
    EXPECT_TRUE(defaultOk);
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{CannotCreateTemp}));
    unlink(dir.File("other.htm").c_str());
    ExpectOriginalUntouched();
}

// Fails reads of the page from its second buffer on: a page that breaks
// off in the middle must not replace the original.
static std::string FaultPath;
static bool FailPageReads(FileHandle f, bool writing, int64_t offset)
{
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", (int)f);
    ssize_t n = readlink(link, target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    return writing || offset == 0 || FaultPath != target;
}

TEST_F(RunFixture, ReadErrorInTheMiddleOfThePage)
{
    WriteFile(page, std::string(200000, 'x'));
    FaultPath = page;
    FileFaultHook = FailPageReads;
    EXPECT_FALSE(CleaningRun());
    FileFaultHook = nullptr;
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{
                            {"Cannot read this file", kMessageError}}));
    EXPECT_EQ(ReadFile(page), std::string(200000, 'x'));
    EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"});
}

TEST_F(RunFixture, WriteErrorOnATemporaryFile)
{
    CleanOptions = kExtractAfterDeleting;
    FileFaultHook = [](FileHandle, bool writing, int64_t) { return !writing; };
    EXPECT_FALSE(CleaningRun());
    FileFaultHook = nullptr;
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{CannotCreateTemp}));
    ExpectOriginalUntouched();
}

// Fails the writes of the cleaned page only (the file in the page's folder).
static bool FailWritesBesidePage(FileHandle f, bool writing, int64_t)
{
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", (int)f);
    ssize_t n = readlink(link, target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    return !writing || strncmp(target, FaultPath.c_str(), FaultPath.size()) != 0;
}

TEST_F(RunFixture, CleanedPageCannotBeWritten)
{
    FaultPath = dir.path + "/";
    FileFaultHook = FailWritesBesidePage;
    EXPECT_FALSE(CleaningRun());
    FileFaultHook = nullptr;
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{
                            {"Cannot write the cleaned page", kMessageError}}));
    ExpectOriginalUntouched();
}

TEST_F(RunFixture, OriginalThatCannotBeTrashedIsKept)
{
    // The trash refuses system mounts such as /dev/shm.
    struct stat st;
    if (stat("/dev/shm", &st) != 0 || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no /dev/shm";
    TempDir shm("/dev/shm");
    std::string shmPage = shm.File("page.htm");
    WriteFile(shmPage, kPage);
    Use(shmPage);
    EXPECT_FALSE(CleaningRun());
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{
                            {"Cannot remove the original file.\nThe page was not changed.",
                             kMessageError}}));
    EXPECT_EQ(ReadFile(shmPage), kPage);
    EXPECT_EQ(ListFolder(shm.path), std::vector<std::string>{"page.htm"});
}

TEST(NewFile, NeverReplacesAFileThatAppearedAtThePath)
{
    TempDir dir;
    HeldFolder folder;
    ASSERT_TRUE(OpenHeldFolder(dir.path.c_str(), &folder));
    NewFile nf;
    ASSERT_TRUE(CreateNewFile(&folder, &nf));
    ByteStream out;
    StreamAttach(&out, nf.file);
    StreamWriteText(&out, "cleaned");
    ASSERT_TRUE(StreamFlush(&out));
    ASSERT_TRUE(FinishNewFile(&nf));
    WriteFile(dir.File("p.htm"), "someone else's");
    EXPECT_EQ(PlaceNewFile(&nf, "p.htm"), EEXIST);
    char savedAs[PATH_MAX + 32];
    EXPECT_TRUE(KeepNewFile(&nf, savedAs, sizeof savedAs));
    DiscardNewFile(&nf);
    CloseHeldFolder(&folder);
    EXPECT_EQ(ReadFile(dir.File("p.htm")), "someone else's");
    ASSERT_NE(savedAs[0], 0);
    EXPECT_EQ(ReadFile(savedAs), "cleaned");
}
