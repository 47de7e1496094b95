// Disposal of the original: free names in the target folder, the limits,
// and every fall-back to the trash with its warning.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>
#include <string>
#include "app/dispose.h"
#include "app/options.h"
#include "app/messages.h"
#include "tests/native/support.h"

// The fixture disposes under `word` into `folder`, as a run would.
struct DisposeFixture : ::testing::Test {
    TempDir dir;
    std::string target, folder;
    uint32_t word = kDefaultOptions & ~(uint32_t)kOptRecycleBin;
    DisposalOutcome out;

    void SetUp() override
    {
        ClearMessages();
        target = dir.File("old");
        ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
        SetTarget(target);
    }
    void SetTarget(const std::string &to)
    {
        ASSERT_LT(to.size(), (size_t)kTargetFolderSize);
        folder = to;
    }
    // Disposes of a fresh page of the given name; gives back its content.
    std::string Dispose(const std::string &name)
    {
        std::string page = dir.File(name);
        std::string content = "original " + name;
        WriteFile(page, content);
        DisposeForTest(page, word, folder.c_str(), &out);
        return content;
    }
    std::string OnlyWarning()
    {
        EXPECT_EQ(Messages.size(), 1u);
        if (Messages.empty())
            return "";
        EXPECT_EQ(Messages[0].second, (unsigned)kMessageWarning);
        return Messages[0].first.substr(0, Messages[0].first.find('\n'));
    }
};

TEST_F(DisposeFixture, FirstFreeNameRestartingFromTheBareName)
{
    std::string a = Dispose("page.htm");
    std::string b = Dispose("page.htm");
    WriteFile(target + "/~3_page.htm", "taken");
    std::string c = Dispose("page.htm");
    std::string d = Dispose("page.htm");
    EXPECT_EQ(ReadFile(target + "/page.htm"), a);
    EXPECT_EQ(ReadFile(target + "/~1_page.htm"), b);
    EXPECT_EQ(ReadFile(target + "/~2_page.htm"), c);
    EXPECT_EQ(ReadFile(target + "/~4_page.htm"), d);
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(out.kind, kDisposedToFolder);
    EXPECT_EQ(std::string(out.where), target + "/~4_page.htm");
}

TEST_F(DisposeFixture, TrailingSeparatorIsNotDoubled)
{
    SetTarget(target + "/");
    std::string a = Dispose("page.htm");
    EXPECT_EQ(ReadFile(target + "/page.htm"), a);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(DisposeFixture, PageAlreadyInTheTargetFolder)
{
    SetTarget(dir.path);
    std::string a = Dispose("page.htm");
    EXPECT_EQ(ReadFile(dir.File("~1_page.htm")), a);
}

TEST_F(DisposeFixture, RecycleBinBitIgnoresTheFolder)
{
    word |= kOptRecycleBin;
    std::string a = Dispose("bin.htm");
    EXPECT_EQ(ReadFile(TrashFolder() + "/bin.htm"), a);
    EXPECT_EQ(out.kind, kDisposedToTrash);
    EXPECT_EQ(std::string(out.where), TrashFolder() + "/bin.htm");
    EXPECT_TRUE(ListFolder(target).empty());
    EXPECT_TRUE(Messages.empty());
}

TEST_F(DisposeFixture, MissingOrEmptyFolderGoesToTheTrash)
{
    for (const std::string &folder : {std::string(), dir.File("nowhere")}) {
        ClearMessages();
        SetTarget(folder);
        std::string a = Dispose("gone.htm");
        EXPECT_EQ(OnlyWarning(), "The chosen folder does not exist; the original goes to the trash.");
        EXPECT_EQ(ReadFile(TrashFolder() + "/gone.htm"), a);
    }
}

// The last name, ~998_, is still used when every name below it is taken;
// with it taken too the original goes to the trash.
TEST_F(DisposeFixture, TheLastNamesOfTheSequence)
{
    WriteFile(target + "/full.htm", "x");
    for (int n = 1; n <= 997; n++)
        WriteFile(target + "/~" + std::to_string(n) + "_full.htm", "x");
    std::string a = Dispose("full.htm");
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(out.kind, kDisposedToFolder);
    EXPECT_EQ(std::string(out.where), target + "/~998_full.htm");
    EXPECT_EQ(ReadFile(target + "/~998_full.htm"), a);

    std::string b = Dispose("full.htm");
    EXPECT_EQ(OnlyWarning(), "Cannot move the original into the chosen folder; it goes to the trash.");
    EXPECT_EQ(out.kind, kDisposedToTrash);
    EXPECT_EQ(ReadFile(TrashFolder() + "/full.htm"), b);
}

TEST_F(DisposeFixture, NameTooLongOnceItGetsItsPrefix)
{
    // 251 + ".htm" = 255 bytes: the bare name fits, "~1_" in front does not.
    std::string name = std::string(251, 'n') + ".htm";
    WriteFile(target + "/" + name, "x");
    Dispose(name);
    EXPECT_EQ(OnlyWarning(), "The file name is too long for the chosen folder; the original goes to the trash.");
    EXPECT_EQ(ListFolder(target).size(), 1u);
    // The trash cannot take it either (its info file's name would be too
    // long), so it stays where it was and the run will say so.
    EXPECT_TRUE(Exists(dir.File(name)));
    EXPECT_EQ(out.kind, kDisposalFailed);
    EXPECT_NE(out.error, 0);

    ClearMessages();
    std::string shorter = std::string(248, 'n') + ".htm";   // "~1_" makes 255
    WriteFile(target + "/" + shorter, "x");
    std::string b = Dispose(shorter);
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(ReadFile(target + "/~1_" + shorter), b);
}
