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

using testing::Get;
using testing::LogCapture;
using testing::Put;
using testing::TempDir;

TEST(Existence, FilesFoldersRelativeAndLongPathsAndMakingFolders) {
    TempDir dir;
    Put(dir.file("a.txt"));
    EXPECT_TRUE(DoesFileExist(dir.file("a.txt")));
    EXPECT_FALSE(DoesDirExist(dir.file("a.txt")));
    EXPECT_TRUE(DoesDirExist(dir.path() + "/"));
    EXPECT_FALSE(DoesFileExist(dir.path()));
    EXPECT_FALSE(DoesFileExist(dir.file("missing")));
    EXPECT_EQ(GetPathType(dir.file("a.txt")), "file");
    EXPECT_EQ(GetPathType(dir.path()), "dir");
    EXPECT_EQ(GetPathType(dir.file("missing")), "neither");

    // Relative names test as absent even when they exist from the current folder.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    EXPECT_FALSE(DoesFileExist("a.txt"));
    EXPECT_FALSE(DoesDirExist("."));
    ASSERT_EQ(::chdir(cwd), 0);

    // Paths over 116 characters log their length.
    const std::string base = dir.path() + "/";
    const std::string at116 = base + std::string(116 - base.size(), 'f');
    const std::string at117 = at116 + "f";
    Put(at116);
    Put(at117);
    LogCapture log;
    EXPECT_TRUE(DoesFileExist(at116));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(DoesFileExist(at117));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"\t117"});

    EXPECT_TRUE(MakeSureDirExists(dir.file("one/two")));
    EXPECT_TRUE(DoesDirExist(dir.file("one/two")));
    EXPECT_TRUE(MakeSureDirExists(dir.file("three/four/")));
    EXPECT_TRUE(DoesDirExist(dir.file("three/four")));
    EXPECT_TRUE(MakeSureDirExists(dir.file("one/two")));  // already there
    Put(dir.file("blocker"));
    EXPECT_FALSE(MakeSureDirExists(dir.file("blocker/sub")));
    EXPECT_FALSE(MakeSureDirExists("relative/folder"));
}

TEST(ShellCopy, RenamesOrReplacesAndKeepsTheExecutableBit) {
    TempDir dir;
    Put(dir.file("src/logo.bmp"), "new");
    Put(dir.file("app/logo.bmp"), "old");
    EXPECT_TRUE(ShellCopy(dir.file("src/logo.bmp"), dir.file("app"), true));
    EXPECT_EQ(Get(dir.file("app/logo.bmp")), "old");
    EXPECT_EQ(Get(dir.file("app/logo (2).bmp")), "new");
    ASSERT_EQ(::chmod(dir.file("app/logo.bmp").c_str(), 0444), 0);
    EXPECT_TRUE(ShellCopy(dir.file("src/logo.bmp"), dir.file("app/")));  // read-only replaced
    EXPECT_EQ(Get(dir.file("app/logo.bmp")), "new");
    EXPECT_EQ(Get(dir.file("src/logo.bmp")), "new");

    Put(dir.file("tool"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(dir.file("tool").c_str(), 0755), 0);
    EXPECT_TRUE(ShellCopy(dir.file("tool"), dir.file("bin/")));
    EXPECT_EQ(GetFileMode(dir.file("bin/tool")) & 0777, 0755);
}

TEST(ShellCopy, WildcardsIntoItselfAndNamedPipes) {
    TempDir dir;
    Put(dir.file("Ketarin/sites.db"), "1");
    Put(dir.file("Ketarin/MORE.DB"), "2");
    Put(dir.file("Ketarin/readme.txt"), "3");
    Put(dir.file("tree/3rd Party Tools/Ketarin/sites.db"), "old");
    const std::string target = dir.file("tree/3rd Party Tools/Ketarin");
    EXPECT_TRUE(ShellCopy(dir.file("Ketarin/*.db"), target));  // case-insensitive selection
    EXPECT_EQ(Get(target + "/sites.db"), "1");
    EXPECT_EQ(Get(target + "/MORE.DB"), "2");
    EXPECT_FALSE(DoesFileExist(target + "/readme.txt"));
    EXPECT_FALSE(ShellCopy(dir.file("Ketarin/*.none"), target));  // nothing selected
    EXPECT_FALSE(ShellCopy(dir.file("Ketarin"), dir.file("Ketarin/")));

    // A pipe in a tree is refused, not waited on; the rest is still copied.
    Put(dir.file("src/a.txt"), "a");
    ASSERT_EQ(::mkfifo(dir.file("src/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ShellCopy(dir.file("src"), dir.file("dest/")));
    EXPECT_EQ(Get(dir.file("dest/src/a.txt")), "a");
    EXPECT_FALSE(DoesFileExist(dir.file("dest/src/pipe")));
    std::string text;
    EXPECT_FALSE(ReadWholeFile(dir.file("src/pipe"), text));
}

TEST(ShellMove, MergesCreatesParentsRenamesAndFailsOnMissingSource) {
    TempDir dir;
    Put(dir.file("SyncTemp/Config/Tekmo.ini"), "new ini");
    Put(dir.file("SyncTemp/Config/sub/deep.txt"), "deep");
    Put(dir.file("tekmo/Config/Tekmo.ini"), "old ini");
    Put(dir.file("tekmo/Config/keep.txt"), "kept");
    EXPECT_TRUE(ShellMove(dir.file("SyncTemp/Config"), dir.file("tekmo")));
    EXPECT_EQ(Get(dir.file("tekmo/Config/Tekmo.ini")), "new ini");
    EXPECT_EQ(Get(dir.file("tekmo/Config/keep.txt")), "kept");
    EXPECT_EQ(Get(dir.file("tekmo/Config/sub/deep.txt")), "deep");
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp/Config")));

    Put(dir.file("SyncTemp/Defs/a.def"), "d");
    EXPECT_TRUE(ShellMove(dir.file("SyncTemp/Defs"), dir.file("tekmo/Modules/")));
    EXPECT_EQ(Get(dir.file("tekmo/Modules/Defs/a.def")), "d");
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp/Defs")));

    Put(dir.file("one.txt"), "1");
    EXPECT_TRUE(ShellMove(dir.file("one.txt"), dir.file("renamed.txt")));
    EXPECT_EQ(Get(dir.file("renamed.txt")), "1");
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
    Put(dir.file("tree/a.txt"), "a");
    Put(dir.file("tree/sub/b.txt"), "b");
    const std::string dest = "/dev/shm/talvane-move-" + std::to_string(::getpid());
    ASSERT_TRUE(MakeSureDirExists(dest));
    EXPECT_TRUE(ShellMove(dir.file("tree"), dest));
    EXPECT_EQ(Get(dest + "/tree/a.txt"), "a");
    EXPECT_EQ(Get(dest + "/tree/sub/b.txt"), "b");
    EXPECT_FALSE(DoesDirExist(dir.file("tree")));
    std::error_code ec;
    std::filesystem::remove_all(dest, ec);
}

TEST(SmallHelpers, JoinDeleteRenameAndAtomicWrite) {
    EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
    TempDir dir;
    Put(dir.file("f"));
    EXPECT_TRUE(RenameFile(dir.file("f"), dir.file("g")));
    EXPECT_TRUE(DeleteFileQuiet(dir.file("g")));
    EXPECT_TRUE(DeleteFileQuiet(dir.file("g")));  // absent afterwards either way
    EXPECT_FALSE(DeleteFileQuiet(dir.path()));    // a folder is not a file

    const std::string path = dir.file("data.bin");
    ASSERT_TRUE(WriteFileAtomic(path, std::string("one\0two", 7), 0600));
    ASSERT_TRUE(WriteFileAtomic(path, "second", 0600));
    EXPECT_EQ(Get(path), "second");
    EXPECT_EQ(GetFileMode(path), 0600);
    EXPECT_EQ(testing::ListNames(dir.path()), std::vector<std::string>{"data.bin"});  // no temp
    EXPECT_FALSE(WriteFileAtomic(dir.file("no/such/folder/f"), "x"));
}

TEST(MakeExecutable, AddsExecuteWhereReadIsGranted) {
    TempDir dir;
    const std::string path = dir.file("program");
    for (const auto& [before, after] :
         {std::pair{0644u, 0755}, {0600u, 0700}, {0640u, 0750}, {0755u, 0755}}) {
        ASSERT_TRUE(WriteFileAtomic(path, "#!/bin/sh\n", before));
        EXPECT_TRUE(MakeExecutable(path));
        EXPECT_EQ(GetFileMode(path), after) << std::oct << before;
    }
    EXPECT_FALSE(MakeExecutable(dir.file("missing")));
    EXPECT_FALSE(MakeExecutable(dir.path()));  // a folder is left alone
}

TEST(FolderLock, SecondHolderIsRefusedUntilTheFirstGoesAway) {
    TempDir dir;
    {
        FolderLock first, second, other;
        ASSERT_TRUE(first.TryLock(dir.path()));
        EXPECT_TRUE(first.TryLock(dir.path()));  // taking it again is harmless
        EXPECT_FALSE(second.TryLock(dir.path()));
        Put(dir.file("sub/x"));
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
