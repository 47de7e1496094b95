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
    "The file is not permissible.\nOnly *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable.";
static const std::pair<std::string, unsigned> CannotOpen{"Cannot open this file", kMessageError};
static const std::pair<std::string, unsigned> CannotCreateTemp{"Cannot create a temporary file",
                                                               kMessageError};

// A fixture's runs clean the path in `current` under `word`, originals to
// the trash.
struct RunFixture : ::testing::Test {
    TempDir dir;
    std::string page, current;
    uint32_t word = kDefaultOptions;

    void SetUp() override
    {
        ClearMessages();
        page = dir.File("page.htm");
        WriteFile(page, kPage);
        Use(page);
    }
    void TearDown() override { FileFaultHook = nullptr; }

    void Use(const std::string &path) { current = path; }
    bool Run(PageResult *result = nullptr) { return RunInPlace(current, word, "", result); }
    void ExpectOriginalUntouched()
    {
        EXPECT_EQ(ReadFile(page), kPage);
        EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"}) << "leftovers";
    }
};

TEST_F(RunFixture, RejectedNameWarnsWithoutFlashOrChange)
{
    Use(dir.File("page.txt"));
    EXPECT_FALSE(Run());
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].first, kNotPermissible);
    EXPECT_EQ(Messages[0].second, (unsigned)kMessageWarning);
    EXPECT_EQ(RunStartedCount, 0);
}

TEST_F(RunFixture, CompletedRunLeavesCleanedPageAndTrashedOriginal)
{
    WriteFile(page, "<p>a<!-- note --></p>");
    EXPECT_TRUE(Run());
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(RunStartedCount, 1);
    EXPECT_EQ(ReadFile(page), "<p>a</p>");
    EXPECT_EQ(ReadFile(TrashFolder() + "/page.htm"), "<p>a<!-- note --></p>");
    EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"});
}

// A page that cleaning leaves byte for byte as it is stays: the same file,
// nothing in the trash, however often it is cleaned.
TEST_F(RunFixture, AlreadyCleanPagesAreLeftAlone)
{
    const std::string bom = "\xEF\xBB\xBF<p>t</p>";
    const std::vector<std::string> trashed = ListFolder(TrashFolder());
    for (const std::string &content : {std::string(), std::string("plain words"), std::string(kPage), bom}) {
        WriteFile(page, content);
        struct stat before, after;
        ASSERT_EQ(stat(page.c_str(), &before), 0);
        for (int run = 0; run < 2; run++) {
            PageResult r;
            EXPECT_TRUE(Run(&r));
            EXPECT_EQ(r.outcome, kPageAlreadyClean) << content;
            EXPECT_EQ(r.original, kOriginalStays);
        }
        ASSERT_EQ(stat(page.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << content;
        EXPECT_EQ(ReadFile(page), content);
        EXPECT_EQ(ListFolder(TrashFolder()), trashed) << content;
        EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"});
    }
}

// Pages that are no 8-bit text are refused as they are: nothing written,
// nothing moved, one message that says what they are.
TEST_F(RunFixture, PagesThatAreNoTextAreRefused)
{
    const std::string utf16 =
        "stored as UTF-16 (or UTF-32); only pages in ASCII, UTF-8 or a single-byte code page can be cleaned";
    const std::string le = std::string("<\0p\0>\0x\0<\0/\0p\0>\0", 16);
    const struct {
        std::string content, said;
    } cases[] = {
        {"\xFF\xFE" + le, utf16},
        {"\xFE\xFF" + std::string("\0<\0p\0>", 6), utf16},
        {std::string("\xFF\xFE\0\0<\0\0\0", 8), utf16},
        {std::string("\0\0\xFE\xFF\0\0\0<", 8), utf16},
        {le, utf16},                                        // no mark: a zero at every odd place
        {std::string("\0<\0p\0>\0x", 8), utf16},          // or at every even one
        {"%PDF-1.7 <html><!-- c -->", "not a web page (PDF document)"},
        {"PK\x03\x04<html>", "not a web page (ZIP archive)"},
        {"\x89PNG\r\n<html>", "not a web page (PNG picture)"},
        {"GIF89a<html>", "not a web page (GIF picture)"},
        {"\xFF\xD8\xFF<html>", "not a web page (JPEG picture)"},
        {"MZ<html>", "not a web page (Windows program)"},
        {"\x7F" "ELF<html>", "not a web page (ELF program)"},
        {"\xD0\xCF\x11\xE0<html>", "not a web page (Office document)"},
        {"\x1F\x8B<html>", "not a web page (gzip archive)"},
    };
    const std::vector<std::string> trashed = ListFolder(TrashFolder());
    for (const auto &c : cases) {
        ClearMessages();
        WriteFile(page, c.content);
        PageResult r;
        EXPECT_FALSE(Run(&r)) << c.said;
        EXPECT_EQ(r.outcome, kPageRefused) << c.said;
        ASSERT_EQ(Messages.size(), 1u) << c.said;
        char line[512];
        FormatMessageLine(Messages[0].first.c_str(), nullptr, 0, line, sizeof line);
        EXPECT_EQ(std::string(line), c.said);
        EXPECT_EQ(ReadFile(page), c.content);
        EXPECT_EQ(ListFolder(TrashFolder()), trashed);
    }
    // One zero byte among text is a page like any other.
    WriteFile(page, std::string("<p>a\0b<!-- c --></p>", 20));
    EXPECT_TRUE(Run());
    EXPECT_EQ(ReadFile(page), std::string("<p>a\0b</p>", 10));
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
        EXPECT_FALSE(Run()) << path;
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
    word = kExtractAfterDeleting;
    bool ok = Run();
    word = kDefaultOptions;
    WriteFile(dir.File("other.htm"), kPage);
    Use(dir.File("other.htm"));
    bool defaultOk = Run();
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
    EXPECT_FALSE(Run());
    FileFaultHook = nullptr;
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{
                            {"Cannot read this file", kMessageError}}));
    EXPECT_EQ(ReadFile(page), std::string(200000, 'x'));
    EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"page.htm"});
}

TEST_F(RunFixture, WriteErrorOnATemporaryFile)
{
    word = kExtractAfterDeleting;
    FileFaultHook = [](FileHandle, bool writing, int64_t) { return !writing; };
    EXPECT_FALSE(Run());
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
    EXPECT_FALSE(Run());
    FileFaultHook = nullptr;
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{
                            {"Cannot write the cleaned page", kMessageError}}));
    ExpectOriginalUntouched();
}

// Where no trash can be made (the data folder is a file), the original
// stays and nothing is written.
TEST_F(RunFixture, OriginalThatCannotBeTrashedIsKept)
{
    WriteFile(page, kPage + std::string("<!-- c -->"));
    WriteFile(dir.File("data"), "a file, not a folder");
    std::string saved = getenv("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", dir.File("data/below").c_str(), 1);
    EXPECT_FALSE(Run());
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
    EXPECT_EQ(Messages, (std::vector<std::pair<std::string, unsigned>>{
                            {"Cannot remove the original file.\nThe page was not changed.",
                             kMessageError}}));
    EXPECT_EQ(MessageErrors, std::vector<int>{ENOTDIR});
    EXPECT_EQ(ReadFile(page), kPage + std::string("<!-- c -->"));
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"data", "page.htm"}));
}

// A page on a file system of passing things (/dev/shm, a tmpfs) is trashed
// all the same: its original is copied into the home trash.
TEST_F(RunFixture, OriginalOnDevShmGoesToTheHomeTrash)
{
    if (access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no /dev/shm";
    TempDir shm("/dev/shm");
    std::string shmPage = shm.File("page.htm");
    WriteFile(shmPage, kPage + std::string("<!-- c -->"));
    Use(shmPage);
    PageResult r;
    EXPECT_TRUE(Run(&r));
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(ReadFile(shmPage), kPage);
    EXPECT_EQ(ListFolder(shm.path), std::vector<std::string>{"page.htm"});
    std::string trashed = r.originalPath;
    EXPECT_EQ(trashed.substr(0, TrashFolder().size() + 1), TrashFolder() + "/");
    EXPECT_EQ(ReadFile(trashed), kPage + std::string("<!-- c -->"));
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
