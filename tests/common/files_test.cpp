#include "common/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/app_paths.h"
#include "common/ownership.h"
#include "common/tree_removal.h"
#include "platform/file_io.h"
#include "support/file_util.h"
#include "support/log_capture.h"

namespace talvane {
namespace {

using namespace testing;

// Only regular files have facts: a folder or a link to nothing is no file to judge by size.
TEST(FileFacts, OnlyRegularFilesAreDescribed) {
    TempDir tmp;
    WriteFile(tmp.file("f"), "four");
    ASSERT_EQ(::symlink(tmp.file("gone").c_str(), tmp.file("dangling").c_str()), 0);
    fileio::FileFacts facts;
    EXPECT_TRUE(fileio::StatFile(tmp.file("f"), facts) && facts.size == 4u);
    for (const char* name : {"", "dangling", "gone"})
        EXPECT_FALSE(fileio::StatFile(tmp.file(name), facts)) << name;
}

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

TEST(ShellCopy, WildcardsAndNamedPipes) {
    TempDir dir;
    WriteFile(dir.file("Ketarin/sites.db"), "1");
    WriteFile(dir.file("tree/sites.db"), "old");
    EXPECT_TRUE(ShellCopy(dir.file("Ketarin/*.DB"), dir.file("tree")));
    EXPECT_EQ(ReadFile(dir.file("tree/sites.db")), "1");
    EXPECT_FALSE(ShellCopy(dir.file("Ketarin/*.none"), dir.file("tree")));  // nothing selected

    // A pipe in a tree is refused, not waited on; the rest is still copied.
    WriteFile(dir.file("src/a.txt"), "a");
    ASSERT_EQ(::mkfifo(dir.file("src/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ShellCopy(dir.file("src"), dir.file("dest/")));
    EXPECT_EQ(ReadFile(dir.file("dest/src/a.txt")), "a");
    EXPECT_FALSE(DoesFileExist(dir.file("dest/src/pipe")));
    std::string text;
    EXPECT_FALSE(ReadWholeFile(dir.file("src/pipe"), text));
}

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
    TALVANE_REQUIRE(::stat("/dev/shm", &shm) == 0 && ::stat(dir.path().c_str(), &tmp) == 0 &&
                        shm.st_dev != tmp.st_dev && ::access("/dev/shm", W_OK) == 0,
                    "no second writable file system at /dev/shm");
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

bool DumpIfFailed(bool ok, const LogCapture& log) {
    if (!ok)
        for (const auto& line : log.lines()) std::fprintf(stderr, "log: %s\n", line.c_str());
    return ok;
}

// Folder permissions bind only an unprivileged user: as root this runs as nobody.
bool ReadOnlyFoldersScenario() {
    TempDir dir;
    WriteFile(dir.file("7z/sub/deeper/7za"));
    WriteFile(dir.file("7z/locked/file"));
    if (::chmod(dir.file("7z/sub/deeper").c_str(), 0555) != 0) return false;
    if (::chmod(dir.file("7z/locked").c_str(), 0) != 0) return false;
    LogCapture log;
    const bool removed = RemoveTree(dir.file("7z"));
    return DumpIfFailed(removed && !DoesDirExist(dir.file("7z")) &&
                            log.contains("RemoveTree\\DeleteTree - VB ERROR: 13 ") &&
                            log.contains("\t\t- Error deleting path:  " + dir.file("7z")) &&
                            log.contains("SetOwnerFS\\ChangeOwnerOfFile:"),
                        log);
}

TEST(RemoveTree, ReadOnlyFoldersAreOpenedUpAndRemovedOnRetry) {
    const int rc = ::geteuid() != 0 ? !ReadOnlyFoldersScenario()
                                    : testing::RunAsNobody(ReadOnlyFoldersScenario);
    TALVANE_REQUIRE(rc != 3, "could not give up root");
    EXPECT_EQ(rc, 0);
}

// A foreign sub-folder defeats both tree deletes; the piecemeal stage takes what it can.
TEST(RemoveTree, BothDeletesFailingLeavesTopFolderAndReturnsFalse) {
    TALVANE_REQUIRE(::geteuid() == 0, "needs root to prepare a foreign-owned folder");
    TempDir dir;
    const std::string top = dir.file("SyncTemp");
    // A name is never split into two: "victim" beside the current folder stays.
    std::vector<std::string> mine = {top + "/mine.txt", dir.file("work/victim")};
    for (const char* separator : {";", ",", "|", "\n", " ", "\t"})
        mine.push_back(top + "/mine/x" + separator + "victim");
    for (const std::string& path : mine) WriteFile(path);
    WriteFile(top + "/foreign/locked;victim");
    mine.insert(mine.end(), {top, top + "/mine", dir.file("work")});
    for (const std::string& path : mine) ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const int rc = testing::RunAsNobody([&] {
        LogCapture log;
        return DumpIfFailed(::chdir(dir.file("work").c_str()) == 0 && !RemoveTree(top) &&
                                DoesDirExist(top) && DoesFileExist(dir.file("work/victim")) &&
                                !DoesFileExist(top + "/mine.txt") && !DoesDirExist(top + "/mine") &&
                                DoesFileExist(top + "/foreign/locked;victim") &&
                                log.contains("RemoveTree\\RemoveFile - Unable to delete:  " + top +
                                             "/foreign/locked;victim") &&
                                log.contains("\t\t- Error deleting path:  " + top + "/foreign"),
                            log);
    });
    TALVANE_REQUIRE(rc != 3, "could not give up root");
    EXPECT_EQ(rc, 0);
}

TEST(RemoveTree, LinksAreRemovedNotFollowed) {
    TempDir dir;
    WriteFile(dir.file("outside/precious.txt"));
    WriteFile(dir.file("outside/nested/more.txt"));
    WriteFile(dir.file("SyncTemp/normal.txt"));
    for (const auto& [target, link] : {std::pair{"outside", "SyncTemp/link-to-dir"},
                                       {"outside/precious.txt", "SyncTemp/link-to-file"},
                                       {"nowhere", "SyncTemp/dangling"},
                                       {"outside", "7z"}})
        ASSERT_EQ(::symlink(dir.file(target).c_str(), dir.file(link).c_str()), 0);
    EXPECT_TRUE(RemoveTree(dir.file("SyncTemp")));
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp")));
    EXPECT_TRUE(RemoveTree(dir.file("7z")));  // a link as the folder itself
    EXPECT_FALSE(DoesDirExist(dir.file("7z")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/precious.txt")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/nested/more.txt")));
}

TEST(ChangeOwnerOfFile, GivesTheOwnerAccessButNobodyElse) {
    TempDir dir;
    ASSERT_TRUE(MakeSureDirExists(dir.file("folder")));
    ASSERT_TRUE(WriteFileAtomic(dir.file("folder/tool"), "x", 0500));
    ASSERT_TRUE(WriteFileAtomic(dir.file("folder/data"), "x", 0004));
    ASSERT_EQ(::chmod(dir.file("folder").c_str(), 0500), 0);
    LogCapture log;
    ChangeOwnerOfFile(dir.file("folder/tool"));
    ChangeOwnerOfFile(dir.file("folder/data"), "someone");
    ChangeOwnerOfFile(dir.file("missing"));
    EXPECT_EQ(GetFileMode(dir.file("folder/tool")), 0700);  // executable keeps x
    EXPECT_EQ(GetFileMode(dir.file("folder/data")), 0604);  // no x added, no group/other write
    EXPECT_EQ(GetFileMode(dir.file("folder")), 0700);       // the parent too
    EXPECT_TRUE(log.contains("\tSetFileSecurity failed with error code 2"));
}

// Installed where its user may not write: the user's XDG folders (relative values ignored).
TEST(AppPaths, AnInstalledProgramKeepsItsFilesInTheUsersFolders) {
    TALVANE_REQUIRE(::geteuid() == 0, "runs the launcher's side as nobody");
    TempDir dir;
    const std::string user = dir.file("user");
    ASSERT_TRUE(MakeSureDirExists(dir.file("program")) && MakeSureDirExists(user) &&
                ::chmod(dir.file("program").c_str(), 0555) == 0 &&
                ::chmod(dir.path().c_str(), 0755) == 0 && ::chown(user.c_str(), 65534, 65534) == 0);
    OverrideExecutablePath(dir.file("program/Talvane"));
    const struct {
        const char *config, *cache, *settings, *work;
    } cases[] = {{"/cfg", "/cache", "/cfg/talvane/Talvane.ini", "/cache/talvane/"},
                 {"cfg", "", "/home/.config/talvane/Talvane.ini", "/home/.cache/talvane/"}};
    const int rc = testing::RunAsNobody([&] {
        bool ok = true;
        for (const auto& c : cases) {
            for (const auto& [name, value] :
                 {std::pair{"XDG_CONFIG_HOME", c.config}, {"XDG_CACHE_HOME", c.cache}})
                ::setenv(name, ((*value == '/' ? user : std::string()) + value).c_str(), 1);
            ::setenv("HOME", (user + "/home").c_str(), 1);
            ok = SettingsFilePath() == user + c.settings && WorkPath() == user + c.work &&
                 DoesDirExist(user + c.work) && ok;
        }
        return ok;
    });
    OverrideExecutablePath("");
    TALVANE_REQUIRE(rc != 3, "could not give up root");
    EXPECT_EQ(rc, 0);
}

TEST(ChangeOwnerOfFile, AsRootHandsTheFileToTheSudoUser) {
    TALVANE_REQUIRE(::geteuid() == 0, "only root can change owners");
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir.file("f"), "x", 0600));
    for (const char* id : {"SUDO_UID", "SUDO_GID"}) ::setenv(id, "65534", 1);
    LogCapture log;
    ChangeOwnerOfFile(dir.file("f"));
    for (const char* id : {"SUDO_UID", "SUDO_GID"}) ::unsetenv(id);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("f").c_str(), &st), 0);
    EXPECT_TRUE(st.st_uid == 65534u && st.st_gid == 65534u) << st.st_uid << ":" << st.st_gid;
    EXPECT_TRUE(log.contains("\tOwner of " + dir.file("f") + " changed to "));
}

// Only a whole path component makes a folder its own destination.
TEST(ShellCopy, IntoItselfOnlyBelowAWholeComponent) {
    const std::pair<std::string, bool> cases[] = {{"bc", true}, {"b/c", false}};
    for (const bool move : {false, true})
        for (const auto& [to, allowed] : cases) {
            SCOPED_TRACE(to + (move ? " moved" : " copied"));
            TempDir dir;
            WriteFile(dir.file("b/f"), "f");
            EXPECT_EQ((move ? ShellMove : ShellCopy)(dir.file("b"), dir.file(to), false), allowed);
            EXPECT_EQ(DoesFileExist(dir.file(to + "/f")), allowed);
            EXPECT_EQ(DoesFileExist(dir.file("b/f")), !(move && allowed));
        }
}

}  // namespace
}  // namespace talvane
