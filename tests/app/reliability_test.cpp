// A technician's bad day against the real local cloud: corrupt packages, stale
// files, links in the tool tree, a launcher killed mid-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/files.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

namespace fs = std::filesystem;

class ReliabilityTest : public WorkflowTest {
  protected:
    int Run() { return DownloadAndRunSet(); }
    bool Started() { return WaitForText(runLog_, "started", 300); }
    std::string OldTool() const {
        return "#!/bin/sh\necho \"old tool started\" >> \"$TEKMO_RUN_LOG\"\n";
    }
};

TEST_F(ReliabilityTest, CorruptEntryKeepsTheInstalledToolAndNothingStarts) {
    ASSERT_TRUE(WriteText(extract_ + "/Tekmo", OldTool(), 0755));
    const std::string package = redist_ + "/Redist/tekmoUpdate.zip";
    ASSERT_TRUE(WriteExecutableZip(package, {{"Tekmo", std::string(4000, 'n') + "new tool"}}));
    std::string bytes = ReadFile(package);
    bytes[40] = static_cast<char>(bytes[40] ^ 0x5a);  // inside the entry's deflated data
    WriteFile(package, bytes);

    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadFile(extract_ + "/Tekmo"), OldTool());
    EXPECT_FALSE(Started()) << RunLog();
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text.rfind("Problem extracting tekmo!", 0), 0U);
    EXPECT_NE(frontend_.messages[0].text.find("Tekmo"), std::string::npos);
    for (const std::string& name : ListNames(extract_)) EXPECT_EQ(name, "Tekmo");
}

// A Tekmo.ini left by an earlier deployment must not pass for this run's.
TEST_F(ReliabilityTest, StaleConfigWithAWrongPasswordIsReported) {
    ASSERT_TRUE(WriteText(extract_ + "/Config/Tekmo.ini", "ConfigSet=from an earlier set\n"));
    session_.ZipPassword = "wrong";
    LoadedPresenter();
    view_.SetText(ui::MainField::ZipPassword, "wrong");
    view_.SetConfigText("Office");
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    EXPECT_TRUE(frontend_.HasMessage("Failed two attempts to download/extract config!"));
}

// A link where the package writes is refused with a message; one where the
// configuration goes is replaced by a folder. Nothing is written through either.
TEST_F(ReliabilityTest, LinksInTheToolTreeAreNeverWrittenThrough) {
    const struct {
        const char* link;
        int exitCode;
    } cases[] = {{"Config", 1}, {"Modules/Defs", 0}};
    for (const auto& c : cases) {
        fs::remove_all(extract_);
        const std::string outside = tmp_.file(std::string("outside-") + std::to_string(c.exitCode));
        ASSERT_TRUE(MakeSureDirExists(outside));
        ASSERT_TRUE(MakeSureDirExists(extract_ + "/Modules"));
        fs::create_directory_symlink(outside, extract_ + "/" + c.link);
        frontend_.messages.clear();
        EXPECT_EQ(Run(), c.exitCode) << c.link;
        EXPECT_TRUE(ListNames(outside).empty()) << c.link;
        if (c.exitCode != 0) {
            ASSERT_EQ(frontend_.messages.size(), 1U);
            EXPECT_NE(frontend_.messages[0].text.find("through the link"), std::string::npos)
                << frontend_.messages[0].text;
        } else {
            EXPECT_FALSE(fs::is_symlink(extract_ + "/" + c.link));
            EXPECT_TRUE(fs::exists(extract_ + "/Modules/Defs/core.def"));
        }
    }
}

// What a launcher killed outright leaves: parts named after its process.
TEST_F(ReliabilityTest, PartsOfAKilledLauncherGoAtTheNextRunOthersStay) {
    const pid_t killed = ::fork();
    if (killed == 0) {
        ::pause();
        ::_exit(0);
    }
    ::kill(killed, SIGKILL);
    ::waitpid(killed, nullptr, 0);
    const std::string dead = ".~tv" + std::to_string(killed) + "-7.part";
    const std::string alive = ".~tv" + std::to_string(::getppid()) + "-7.part";
    for (const std::string& path : {prog_ + "/" + dead, extract_ + "/Modules/Core/" + dead,
                                    extract_ + "/" + alive, prog_ + "/" + dead + ".keep"})
        WriteFile(path, std::string(1 << 20, 'x'));
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(Exists(prog_ + "/" + dead));
    EXPECT_FALSE(Exists(extract_ + "/Modules/Core/" + dead));
    EXPECT_TRUE(Exists(extract_ + "/" + alive));        // another launcher at work
    EXPECT_TRUE(Exists(prog_ + "/" + dead + ".keep"));  // not a name the launcher makes
}

}  // namespace
}  // namespace talvane::testing
