// The one writer of kept files, and the clean-up of the parts an interrupted run leaves.
#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/files.h"
#include "support/file_util.h"

namespace talvane::testing {
namespace {

// The mode asked for is the mode the file gets, whatever the umask.
TEST(AtomicFile, TheModeAskedForIsKeptUnderAnyUmask) {
    const std::pair<mode_t, unsigned> cases[] = {{077, 0644}, {0, 0600}, {022, 0755}, {0777, 0640}};
    TempDir dir;
    for (const auto& [mask, mode] : cases) {
        SCOPED_TRACE(mask);
        const mode_t saved = ::umask(mask);
        const bool written = WriteFileAtomic(dir.file("f"), "new", mode);
        ::umask(saved);
        ASSERT_TRUE(written);
        EXPECT_EQ(GetFileMode(dir.file("f")), static_cast<int>(mode));
        EXPECT_EQ(ListNames(dir.path()), std::vector<std::string>{"f"});
    }
    // A bare name is the working folder's, part and all.
    char* const here = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const bool bare = WriteFileAtomic("bare.txt", "here", 0644);
    EXPECT_EQ(::chdir(here), 0);
    std::free(here);
    EXPECT_TRUE(bare);
    EXPECT_EQ(ReadFile(dir.file("bare.txt")), "here");
    EXPECT_EQ(ListNames(dir.path()), (std::vector<std::string>{"bare.txt", "f"}));
}

// A write refused half-way (a size limit, in a child) fails, keeps the old file, leaves no part.
TEST(AtomicFile, AFailingWriteKeepsTheOldFileAndLeavesNoPart) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file("settings.ini"), "old"));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const auto written = WriteFileAtomically(dir.file("settings.ini"), std::string(65536, 'x'));
        ::_exit(!written && !written.error().message.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write was reported good";
    EXPECT_EQ(ReadFile(dir.file("settings.ini")), "old");
    EXPECT_EQ(ListNames(dir.path()), std::vector<std::string>{"settings.ini"});
}

std::string Part(long pid) {
    return ".~tv" + std::to_string(pid) + "-1.part";
}

long DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// Only parts of processes that are gone are removed, not those of another user's process.
bool StalePartsScenario(const std::string& top) {
    const long dead = DeadPid();
    const std::vector<std::string> kept = {Part(::getpid()), Part(1), "plain.part", ".~tvx-1.part",
                                           ".~tv" + std::to_string(dead) + ".part"};
    for (const auto& name : kept) WriteFile(top + "/" + name);
    WriteFile(top + "/" + Part(dead));
    WriteFile(top + "/sub/" + Part(dead));
    RemoveStaleParts(top, false);
    const bool flat =
        ListNames(top).size() == kept.size() + 1 && Exists(top + "/sub/" + Part(dead));
    RemoveStaleParts(top, true);
    const bool deep = ListNames(top + "/sub").empty();
    for (const auto& name : kept)
        if (!Exists(top + "/" + name)) return false;
    return flat && deep;
}

TEST(StaleParts, OnlyPartsOfProcessesThatAreGoneAreRemoved) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    EXPECT_TRUE(StalePartsScenario(dir.file("as-me")));
    if (::geteuid() != 0) return;  // as root, once more as nobody beside root's parts
    const int rc = RunAsNobody([&] { return StalePartsScenario(dir.file("as-nobody")); });
    TALVANE_REQUIRE(rc != 3, "could not give up root");
    EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace talvane::testing
