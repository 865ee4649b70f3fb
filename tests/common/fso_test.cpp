#include "common/fso.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/files.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::LogCapture;
using testing::TempDir;
using testing::WriteFile;

bool DumpIfFailed(bool ok, const LogCapture& log) {
    if (!ok)
        for (const auto& line : log.lines()) std::fprintf(stderr, "log: %s\n", line.c_str());
    return ok;
}

// Folder permissions only bind an unprivileged user; as root the check runs in
// a child process that has given up root first.
bool ReadOnlyFoldersScenario() {
    TempDir dir;
    WriteFile(dir.file("7z/sub/deeper/7za"));
    WriteFile(dir.file("7z/locked/file"));
    if (::chmod(dir.file("7z/sub/deeper").c_str(), 0555) != 0) return false;
    if (::chmod(dir.file("7z/locked").c_str(), 0) != 0) return false;
    LogCapture log;
    const bool removed = clsFSO().KillDir(dir.file("7z"));
    return DumpIfFailed(removed && !DoesDirExist(dir.file("7z")) &&
                            log.contains("clsFSO\\DelTree32 - VB ERROR: 13 ") &&
                            log.contains("\t\t- Error deleting path:  " + dir.file("7z")) &&
                            log.contains("SetOwnerFS\\ChangeOwnerOfFile:"),
                        log);
}

TEST(KillDir, ReadOnlyFoldersAreOpenedUpAndRemovedOnRetry) {
    if (::geteuid() != 0) {
        EXPECT_TRUE(ReadOnlyFoldersScenario());
        return;
    }
    const int rc = testing::RunAsNobody(ReadOnlyFoldersScenario);
    if (rc == 3) GTEST_SKIP() << "could not give up root";
    EXPECT_EQ(rc, 0);
}

// A sub-folder that belongs to someone else defeats both tree deletes; the
// piecemeal stage then takes what it can and leaves the top folder.
TEST(KillDir, BothDeletesFailingLeavesTopFolderAndReturnsFalse) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to prepare a foreign-owned folder";
    TempDir dir;
    const std::string top = dir.file("SyncTemp");
    WriteFile(top + "/mine.txt");
    WriteFile(top + "/mine/inner.txt");
    WriteFile(top + "/foreign/locked.txt");
    for (const char* rel : {"", "/mine.txt", "/mine", "/mine/inner.txt"})
        ASSERT_EQ(::chown((top + rel).c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const int rc = testing::RunAsNobody([&] {
        LogCapture log;
        return DumpIfFailed(!clsFSO().KillDir(top) && DoesDirExist(top) &&
                                !DoesFileExist(top + "/mine.txt") && !DoesDirExist(top + "/mine") &&
                                DoesFileExist(top + "/foreign/locked.txt") &&
                                log.contains("clsFSO\\KillFile - Unable to delete:  " + top +
                                             "/foreign/locked.txt") &&
                                log.contains("\t\t- Error deleting path:  " + top + "/foreign"),
                            log);
    });
    if (rc == 3) GTEST_SKIP() << "could not give up root";
    EXPECT_EQ(rc, 0);
}

TEST(KillDir, LinksAreRemovedNotFollowed) {
    TempDir dir;
    WriteFile(dir.file("outside/precious.txt"));
    WriteFile(dir.file("outside/nested/more.txt"));
    WriteFile(dir.file("SyncTemp/normal.txt"));
    for (const auto& [target, link] : {std::pair{"outside", "SyncTemp/link-to-dir"},
                                       {"outside/precious.txt", "SyncTemp/link-to-file"},
                                       {"nowhere", "SyncTemp/dangling"},
                                       {"outside", "7z"}})
        ASSERT_EQ(::symlink(dir.file(target).c_str(), dir.file(link).c_str()), 0);
    clsFSO fso;
    EXPECT_TRUE(fso.KillDir(dir.file("SyncTemp")));
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp")));
    EXPECT_TRUE(fso.KillDir(dir.file("7z")));  // a link as the folder itself
    EXPECT_FALSE(DoesDirExist(dir.file("7z")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/precious.txt")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/nested/more.txt")));
}

TEST(Listings, FileAndDirListsAndBadArguments) {
    TempDir dir;
    for (const char* rel : {"a/file.TXT", "a/file.txt", "a/other.log", "a/sub/deep.txt"})
        WriteFile(dir.file(rel));
    const std::string a = dir.file("a/");
    clsFSO fso;
    EXPECT_EQ(fso.Get_FileList(dir.file("a"), false, "*.txt"), a + "file.TXT;" + a + "file.txt;");
    EXPECT_EQ(fso.Get_FileList(dir.file("a"), true, "*.txt"),
              a + "file.TXT;" + a + "file.txt;" + a + "sub/deep.txt;");

    WriteFile(dir.file("a/two/inner/y"));
    EXPECT_EQ(fso.Get_DirList(dir.file("a/sub")), "");
    // A link to a folder is no folder of the tree: it may lead out of it.
    ASSERT_EQ(::symlink(dir.file("a/two").c_str(), dir.file("a/zlink").c_str()), 0);
    EXPECT_EQ(fso.Get_DirList(dir.file("a")), a + "sub;" + a + "two");
    LogCapture log;
    EXPECT_EQ(fso.Get_DirList(""), "");
    EXPECT_EQ(fso.Get_FileList("", true, "*.*"), "");
    EXPECT_TRUE(log.contains("cFSO\\Get_DirList - Passed no string, aborting!"));
    EXPECT_TRUE(log.contains("cFSO\\Get_FileList - Passed no string, aborting!"));
    EXPECT_EQ(fso.Get_FileList(dir.file("missing"), true, "*.*"), "");
    EXPECT_TRUE(log.contains("clsFSO\\Get_FileList - VB ERROR: 2 "));
    EXPECT_TRUE(log.contains("clsFSO\\Get_FileList -      DIR: " + dir.file("missing")));
}

}  // namespace
}  // namespace talvane
