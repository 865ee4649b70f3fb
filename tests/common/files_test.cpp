#include "common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ShellCopy, RenamesOrReplacesAndKeepsTheExecutableBit) {
    TempDir dir;
    WriteFile(dir.file("src/logo.bmp"), "new");
    WriteFile(dir.file("app/logo.bmp"), "old");
    EXPECT_TRUE(ShellCopy(dir.file("src/logo.bmp"), dir.file("app"), true));
    EXPECT_EQ(ReadFile(dir.file("app/logo.bmp")), "old");
    EXPECT_EQ(ReadFile(dir.file("app/logo (2).bmp")), "new");
    ASSERT_EQ(::chmod(dir.file("app/logo.bmp").c_str(), 0444), 0);
    EXPECT_TRUE(ShellCopy(dir.file("src/logo.bmp"), dir.file("app/")));  // read-only replaced
    EXPECT_EQ(ReadFile(dir.file("app/logo.bmp")), "new");

    WriteFile(dir.file("tool"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(dir.file("tool").c_str(), 0755), 0);
    EXPECT_TRUE(ShellCopy(dir.file("tool"), dir.file("bin/")));
    EXPECT_EQ(GetFileMode(dir.file("bin/tool")) & 0777, 0755);
}

TEST(ShellCopy, WildcardsIntoItselfAndNamedPipes) {
    TempDir dir;
    // Selecting by wildcard is covered by the deployment workflow test.
    WriteFile(dir.file("Ketarin/sites.db"), "1");
    WriteFile(dir.file("tree/sites.db"), "old");
    EXPECT_TRUE(ShellCopy(dir.file("Ketarin/*.DB"), dir.file("tree")));
    EXPECT_EQ(ReadFile(dir.file("tree/sites.db")), "1");
    EXPECT_FALSE(ShellCopy(dir.file("Ketarin/*.none"), dir.file("tree")));  // nothing selected
    EXPECT_FALSE(ShellCopy(dir.file("Ketarin"), dir.file("Ketarin/")));

    // A pipe in a tree is refused, not waited on; the rest is still copied.
    WriteFile(dir.file("src/a.txt"), "a");
    ASSERT_EQ(::mkfifo(dir.file("src/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ShellCopy(dir.file("src"), dir.file("dest/")));
    EXPECT_EQ(ReadFile(dir.file("dest/src/a.txt")), "a");
    EXPECT_FALSE(DoesFileExist(dir.file("dest/src/pipe")));
    std::string text;
    EXPECT_FALSE(ReadWholeFile(dir.file("src/pipe"), text));
}

// Merging folders into a deployed tree is covered by the deployment workflow test.
TEST(ShellMove, CreatesParentsRenamesAndFailsOnMissingSource) {
    TempDir dir;
    WriteFile(dir.file("SyncTemp/Defs/a.def"), "d");
    EXPECT_TRUE(ShellMove(dir.file("SyncTemp/Defs"), dir.file("tekmo/Modules/")));
    EXPECT_EQ(ReadFile(dir.file("tekmo/Modules/Defs/a.def")), "d");
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp/Defs")));

    WriteFile(dir.file("one.txt"), "1");
    EXPECT_TRUE(ShellMove(dir.file("one.txt"), dir.file("renamed.txt")));
    EXPECT_EQ(ReadFile(dir.file("renamed.txt")), "1");
    EXPECT_FALSE(ShellMove(dir.file("one.txt"), dir.file("again.txt")));  // moved, so missing
}

// /dev/shm is a separate file system on Linux; a move to it cannot rename.
TEST(ShellMove, AcrossFileSystemsCopiesAndDeletes) {
    struct stat shm {
    }, tmp{};
    TempDir dir;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.path().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    WriteFile(dir.file("tree/a.txt"), "a");
    WriteFile(dir.file("tree/sub/b.txt"), "b");
    const std::string dest = "/dev/shm/talvane-move-" + std::to_string(::getpid());
    ASSERT_TRUE(MakeSureDirExists(dest));
    EXPECT_TRUE(ShellMove(dir.file("tree"), dest));
    EXPECT_EQ(ReadFile(dest + "/tree/a.txt"), "a");
    EXPECT_EQ(ReadFile(dest + "/tree/sub/b.txt"), "b");
    EXPECT_FALSE(DoesDirExist(dir.file("tree")));
    std::error_code ec;
    std::filesystem::remove_all(dest, ec);
}

TEST(FolderLock, SecondHolderIsRefusedUntilTheFirstGoesAway) {
    TempDir dir;
    {
        FolderLock first, second;
        ASSERT_TRUE(first.TryLock(dir.path()));
        EXPECT_FALSE(second.TryLock(dir.path()));
    }
    FolderLock later, missing;
    EXPECT_TRUE(later.TryLock(dir.path()));
    // A folder that cannot be opened is no reason to refuse work.
    EXPECT_TRUE(missing.TryLock(dir.file("no/such/folder")));
    EXPECT_TRUE(testing::ListNames(dir.path()).empty());  // nothing left
}

}  // namespace
}  // namespace talvane
