#include "common/fso.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

void Put(const std::string& path, const std::string& text = "x") {
    ASSERT_TRUE(MakeSureDirExists(path.substr(0, path.rfind('/'))));
    ASSERT_TRUE(WriteFileAtomic(path, text));
}

TEST(KillDir, MissingFolderIsTrueWithThreeLines) {
    TempDir dir;
    LogCapture log;
    clsFSO fso;
    EXPECT_TRUE(fso.KillDir(dir.file("absent")));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "\tclsFSO\\KillDir: ", "\t\t- passed: " + dir.file("absent"),
                               "\t\t- returned: True"}));
}

TEST(KillDir, ReadOnlyFilesGoOnTheFirstDeleteWithoutLogLines) {
    TempDir dir;
    Put(dir.file("SyncTemp/Config/Tekmo.ini"));
    Put(dir.file("SyncTemp/ro.txt"));
    ASSERT_EQ(::chmod(dir.file("SyncTemp/ro.txt").c_str(), 0444), 0);
    LogCapture log;
    clsFSO fso;
    EXPECT_TRUE(fso.KillDir(dir.file("SyncTemp")));
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp")));
    EXPECT_TRUE(log.lines().empty());
}

// Folder permissions only bind an unprivileged user; as root the check runs in
// a child process that has given up root first.
bool ReadOnlyFoldersScenario() {
    TempDir dir;
    Put(dir.file("7z/sub/deeper/7za"));
    Put(dir.file("7z/locked/file"));
    if (::chmod(dir.file("7z/sub/deeper").c_str(), 0555) != 0) return false;
    if (::chmod(dir.file("7z/locked").c_str(), 0) != 0) return false;
    LogCapture log;
    clsFSO fso;
    const bool removed = fso.KillDir(dir.file("7z"));
    bool ok = removed && !DoesDirExist(dir.file("7z")) &&
              log.contains("clsFSO\\DelTree32 - VB ERROR: 13 ") &&
              log.contains("\t\t- Error deleting path:  " + dir.file("7z")) &&
              log.contains("SetOwnerFS\\ChangeOwnerOfFile:");
    if (!ok) {
        for (const auto& line : log.lines()) std::fprintf(stderr, "log: %s\n", line.c_str());
    }
    return ok;
}

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// Runs `scenario` in a child process as the unprivileged user: 0 passed,
// 1 failed, 3 the child could not give up root.
template <class Fn>
int RunAsNobody(Fn scenario) {
    const pid_t pid = ::fork();
    if (pid < 0) return 3;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        ::_exit(scenario() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

TEST(KillDir, ReadOnlyFoldersAreOpenedUpAndRemovedOnRetry) {
    if (::geteuid() != 0) {
        EXPECT_TRUE(ReadOnlyFoldersScenario());
        return;
    }
    const int rc = RunAsNobody(ReadOnlyFoldersScenario);
    if (rc == 3) GTEST_SKIP() << "could not give up root";
    EXPECT_EQ(rc, 0);
}

// A sub-folder that belongs to someone else defeats both tree deletes; the
// piecemeal stage then takes what it can and leaves the top folder.
TEST(KillDir, BothDeletesFailingLeavesTopFolderAndReturnsFalse) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to prepare a foreign-owned folder";
    TempDir dir;
    const std::string top = dir.file("SyncTemp");
    Put(top + "/mine.txt");
    Put(top + "/mine/inner.txt");
    Put(top + "/foreign/locked.txt");
    for (const char* rel : {"", "/mine.txt", "/mine", "/mine/inner.txt"})
        ASSERT_EQ(::chown((top + rel).c_str(), kNobody, kNoGroup), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const int rc = RunAsNobody([&] {
        LogCapture log;
        clsFSO fso;
        bool ok =
            !fso.KillDir(top) && DoesDirExist(top) && !DoesFileExist(top + "/mine.txt") &&
            !DoesDirExist(top + "/mine") && DoesFileExist(top + "/foreign/locked.txt") &&
            log.contains("clsFSO\\KillFile - Unable to delete:  " + top + "/foreign/locked.txt") &&
            log.contains("\t\t- Error deleting path:  " + top + "/foreign");
        if (!ok) {
            for (const auto& line : log.lines()) std::fprintf(stderr, "log: %s\n", line.c_str());
        }
        return ok;
    });
    if (rc == 3) GTEST_SKIP() << "could not give up root";
    EXPECT_EQ(rc, 0);
}

TEST(KillDir, LinksInsideTheTreeAreRemovedNotFollowed) {
    TempDir dir;
    Put(dir.file("outside/precious.txt"));
    Put(dir.file("outside/nested/more.txt"));
    Put(dir.file("SyncTemp/normal.txt"));
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("SyncTemp/link-to-dir").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("outside/precious.txt").c_str(),
                        dir.file("SyncTemp/link-to-file").c_str()),
              0);
    ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("SyncTemp/dangling").c_str()), 0);
    clsFSO fso;
    EXPECT_TRUE(fso.KillDir(dir.file("SyncTemp")));
    EXPECT_FALSE(DoesDirExist(dir.file("SyncTemp")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/precious.txt")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/nested/more.txt")));
}

TEST(KillDir, LinkAsTheFolderItselfRemovesOnlyTheLink) {
    TempDir dir;
    Put(dir.file("outside/precious.txt"));
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("7z").c_str()), 0);
    clsFSO fso;
    EXPECT_TRUE(fso.KillDir(dir.file("7z")));
    EXPECT_FALSE(DoesDirExist(dir.file("7z")));
    EXPECT_TRUE(DoesFileExist(dir.file("outside/precious.txt")));
}

TEST(KillFile, MissingFileIsTrueAndStillWritesClosingLines) {
    TempDir dir;
    Put(dir.file("ro.txt"));
    ASSERT_EQ(::chmod(dir.file("ro.txt").c_str(), 0444), 0);
    LogCapture log;
    clsFSO fso;
    EXPECT_TRUE(fso.KillFile(dir.file("ro.txt")));
    EXPECT_FALSE(DoesFileExist(dir.file("ro.txt")));
    EXPECT_TRUE(fso.KillFile(dir.file("gone.txt")));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "\tclsFSO\\KillFile: ", "\t\t- passed: " + dir.file("ro.txt"),
                               "\t\t- returned: True", "\tclsFSO\\KillFile: ",
                               "\t\t- passed: " + dir.file("gone.txt"), "\t\t- returned: True"}));
}

TEST(Listings, FileListSelectsByExtensionCaseInsensitively) {
    TempDir dir;
    Put(dir.file("a/file.TXT"));
    Put(dir.file("a/file.txt"));
    Put(dir.file("a/other.log"));
    Put(dir.file("a/sub/deep.txt"));
    clsFSO fso;
    EXPECT_EQ(fso.Get_FileList(dir.file("a"), false, "*.txt"),
              dir.file("a/file.TXT") + ";" + dir.file("a/file.txt") + ";");
    EXPECT_EQ(fso.Get_FileList(dir.file("a"), true, "*.txt"), dir.file("a/file.TXT") + ";" +
                                                                  dir.file("a/file.txt") + ";" +
                                                                  dir.file("a/sub/deep.txt") + ";");
    // No asterisk: every file.
    EXPECT_EQ(fso.Get_FileList(dir.file("a"), false, "notes.txt"),
              dir.file("a/file.TXT") + ";" + dir.file("a/file.txt") + ";" +
                  dir.file("a/other.log") + ";");
}

TEST(Listings, DirListAndEmptyArguments) {
    TempDir dir;
    Put(dir.file("a/one/x"));
    Put(dir.file("a/two/inner/y"));
    clsFSO fso;
    EXPECT_EQ(fso.Get_DirList(dir.file("a/one")), "");
    EXPECT_EQ(fso.Get_DirList(dir.file("a")), dir.file("a/one") + ";" + dir.file("a/two"));
    LogCapture log;
    EXPECT_EQ(fso.Get_DirList(""), "");
    EXPECT_EQ(fso.Get_FileList("", true, "*.*"), "");
    EXPECT_TRUE(log.contains("cFSO\\Get_DirList - Passed no string, aborting!"));
    EXPECT_TRUE(log.contains("cFSO\\Get_FileList - Passed no string, aborting!"));
    log.clear();
    EXPECT_EQ(fso.Get_FileList(dir.file("missing"), true, "*.*"), "");
    EXPECT_TRUE(log.contains("clsFSO\\Get_FileList - VB ERROR: 2 "));
    EXPECT_TRUE(log.contains("clsFSO\\Get_FileList -      DIR: " + dir.file("missing")));
    EXPECT_TRUE(log.contains("\t\tAborting function..."));
}

}  // namespace
}  // namespace talvane
