#include "common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ios>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::ReadFile;
using testing::LogCapture;
using testing::WriteFile;
using testing::TempDir;

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
    EXPECT_EQ(ReadFile(dir.file("src/logo.bmp")), "new");

    WriteFile(dir.file("tool"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(dir.file("tool").c_str(), 0755), 0);
    EXPECT_TRUE(ShellCopy(dir.file("tool"), dir.file("bin/")));
    EXPECT_EQ(GetFileMode(dir.file("bin/tool")) & 0777, 0755);
}

TEST(ShellCopy, WildcardsIntoItselfAndNamedPipes) {
    TempDir dir;
    WriteFile(dir.file("Ketarin/sites.db"), "1");
    WriteFile(dir.file("Ketarin/MORE.DB"), "2");
    WriteFile(dir.file("Ketarin/readme.txt"), "3");
    WriteFile(dir.file("tree/3rd Party Tools/Ketarin/sites.db"), "old");
    const std::string target = dir.file("tree/3rd Party Tools/Ketarin");
    EXPECT_TRUE(ShellCopy(dir.file("Ketarin/*.db"), target));  // case-insensitive selection
    EXPECT_EQ(ReadFile(target + "/sites.db"), "1");
    EXPECT_EQ(ReadFile(target + "/MORE.DB"), "2");
    EXPECT_FALSE(DoesFileExist(target + "/readme.txt"));
    EXPECT_FALSE(ShellCopy(dir.file("Ketarin/*.none"), target));  // nothing selected
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

TEST(ShellMove, MergesCreatesParentsRenamesAndFailsOnMissingSource) {
    TempDir dir;
    WriteFile(dir.file("SyncTemp/Config/Tekmo.ini"), "new ini");
    WriteFile(dir.file("SyncTemp/Config/sub/deep.txt"), "deep");
    WriteFile(dir.file("tekmo/Config/Tekmo.ini"), "old ini");
    WriteFile(dir.file("tekmo/Config/keep.txt"), "kept");
    EXPECT_TRUE(ShellMove(dir.file("SyncTemp/Config"), dir.file("tekmo")));
    EXPECT_EQ(ReadFile(dir.file("tekmo/Config/Tekmo.ini")), "new ini");
    EXPECT_EQ(ReadFile(dir.file("tekmo/Config/keep.txt")), "kept");
    EXPECT_EQ(ReadFile(dir.file("tekmo/Config/sub/deep.txt")), "deep");
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp/Config")));

    WriteFile(dir.file("SyncTemp/Defs/a.def"), "d");
    EXPECT_TRUE(ShellMove(dir.file("SyncTemp/Defs"), dir.file("tekmo/Modules/")));
    EXPECT_EQ(ReadFile(dir.file("tekmo/Modules/Defs/a.def")), "d");
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp/Defs")));

    WriteFile(dir.file("one.txt"), "1");
    EXPECT_TRUE(ShellMove(dir.file("one.txt"), dir.file("renamed.txt")));
    EXPECT_EQ(ReadFile(dir.file("renamed.txt")), "1");
    EXPECT_FALSE(DoesFileExist(dir.file("one.txt")));
    EXPECT_FALSE(ShellMove(dir.file("one.txt"), dir.file("again.txt")));
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
        FolderLock first, second, other;
        ASSERT_TRUE(first.TryLock(dir.path()));
        EXPECT_TRUE(first.TryLock(dir.path()));  // taking it again is harmless
        EXPECT_FALSE(second.TryLock(dir.path()));
        WriteFile(dir.file("sub/x"));
        EXPECT_TRUE(other.TryLock(dir.file("sub")));  // another folder is independent
    }
    FolderLock later, missing;
    EXPECT_TRUE(later.TryLock(dir.path()));
    // A folder that cannot be opened is no reason to refuse work.
    EXPECT_TRUE(missing.TryLock(dir.file("no/such/folder")));
    EXPECT_EQ(testing::ListNames(dir.path()), std::vector<std::string>{"sub"});  // nothing left
}

}  // namespace
}  // namespace talvane
