// Download && Run against the real local cloud, from the click to the started tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/names.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MainCheck;
using ui::MainControl;
using ui::MainField;

class DownloadRunTest : public WorkflowTest {
  protected:
    void Choose(const std::string& set) {
        view_.SetConfigText(set);
        ASSERT_EQ(view_.ConfigText(), set);
    }
    std::string Tool(const std::string& rel) const { return extract_ + "/" + rel; }
    // Everything the program folder may hold after a run: the program and its
    // settings (and the updates index while the launcher still runs).
    void ExpectProgramFolderClean(bool running = false) const {
        for (const std::string& name : ListNames(prog_)) {
            EXPECT_TRUE(name == Exe("Talvane") || name == "Talvane.ini" ||
                        (running && name == "VelmoraUpdates.ini"))
                << "left behind: " << name;
        }
    }
    // Download && Run on `set`; the process must end.
    void RunOn(const std::string& set) {
        LoadedPresenter();
        Choose(set);
        EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    }
    bool Started(const std::string& text = "Tekmo 2.2.0 started") {
        return WaitForText(runLog_, text);
    }
    long CountLog(const std::string& text) const {
        long n = 0;
        for (const std::string& line : log_.lines()) {
            if (line.find(text) != std::string::npos) ++n;
        }
        return n;
    }
};

// Also: what a run cut short left in SyncTemp belongs to another set and
// must never be deployed.
TEST_F(DownloadRunTest, CompleteRunDeploysTheTreeStartsTheToolAndLeavesNothingBehind) {
    ASSERT_TRUE(WriteText(prog_ + "/SyncTemp/Config/Stale.ini", "from an earlier set"));
    ASSERT_TRUE(WriteText(prog_ + "/SyncTemp/Scripts/stale.cmd", "from an earlier set"));
    LoadedPresenter();
    Choose("Field Team");
    view_.SetChecked(MainCheck::DeleteMe, true);

    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));

    // Tool package, configuration set and definitions in their places.
    EXPECT_NE(ReadFile(Tool("Config/Tekmo.ini")).find("ConfigSet=Field Team"), std::string::npos);
    EXPECT_TRUE(Exists(Tool("Config/Package.ini")));  // folders merge, package files stay
    for (const std::string& kept : std::initializer_list<std::string>{
             Exe("Tekmo"), "Scripts/tasks/cleanup.cmd", "Modules/Defs/set.def",
             "Modules/Defs/core.def", "Modules/Defs/extra/more.def"})
        EXPECT_TRUE(Exists(Tool(kept))) << kept;
    EXPECT_FALSE(Exists(Tool("Config/Stale.ini")) || Exists(Tool("Scripts/stale.cmd")));
    EXPECT_EQ(ListNames(Tool("3rd Party Tools/Ketarin")),
              (std::vector<std::string>{"Ketarin.txt", "jobs.db", "settings.db"}));

    EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.2.0 started with arguments: [/deltalvane]"))
        << RunLog();
    ExpectProgramFolderClean();
    EXPECT_TRUE(frontend_.messages.empty());
    EXPECT_TRUE(view_.closed);

    EXPECT_TRUE(LogHas("retrieved 7zip from Nimbara"));
    for (const std::string& line : log_.lines()) {
        EXPECT_EQ(line.find(kZipPassword), std::string::npos) << line;
        EXPECT_EQ(line.find(kSubscriberPassword), std::string::npos) << line;
    }
}

// Delete Me unticked: the tool gets no arguments.
TEST_F(DownloadRunTest, PackageMadeWithoutUnixPermissionsStillStartsTheTool) {
    ASSERT_TRUE(RezipWithoutUnixPermissions(redist_ + "/Redist/tekmoUpdate.zip"));
    view_.SetChecked(MainCheck::DeleteMe, false);
    RunOn("Office");
    EXPECT_TRUE(Started("Tekmo 2.2.0 started with arguments: []")) << RunLog();
    EXPECT_TRUE(frontend_.messages.empty());
}

// The work files beside the program have fixed names: a second launcher in the
// same folder must not delete or overwrite them while the first is at work.
TEST_F(DownloadRunTest, SecondLauncherInTheSameProgramFolderIsRefused) {
    LoadedPresenter();
    Choose("Office");
    view_.SetChecked(MainCheck::SaveDefault, true);
    {
        FolderLock otherLauncher;
        ASSERT_TRUE(otherLauncher.TryLock(prog_));
        EXPECT_FALSE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
        ASSERT_EQ(frontend_.messages.size(), 1U);
        EXPECT_EQ(frontend_.messages[0].text.rfind("Another Talvane is already working", 0), 0U);
        EXPECT_FALSE(Exists(extract_));
        ExpectProgramFolderClean(true);
        // Run Previous Ver works on the same files.
        frontend_.messages.clear();
        view_.SelectPreviousVersion(0);
        EXPECT_FALSE(EndsProcess([&] { presenter_->OnRunPrevious(); }));
        EXPECT_EQ(frontend_.messages.size(), 1U);
        EXPECT_FALSE(Exists(extract_));
        EXPECT_EQ(RunLog(), "");
    }
    // The default was still saved, as the click asked for.
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
}

// Unattended, the window goes to the user; a click stays but saves the default.
TEST_F(DownloadRunTest, UnreachableRedistWithoutPackageStaysButHasSavedTheDefault) {
    WriteSetting("DefaultConfig", "office");
    endpoints_.RedistHost = "127.0.0.1:1";
    LoadedPresenter();
    EXPECT_FALSE(EndsProcess([&] { presenter_->RunUnattended(); }));
    EXPECT_TRUE(view_.IsShown());
    Choose("Office");
    view_.SetChecked(MainCheck::SaveDefault, true);
    EXPECT_FALSE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
    EXPECT_FALSE(Exists(extract_));
}

TEST_F(DownloadRunTest, UnreachableRedistUsesAPackageLeftByAnEarlierRun) {
    std::filesystem::copy_file(redist_ + "/Redist/Tekmo_2.1.0.zip", prog_ + "/tekmoUpdate.zip");
    endpoints_.RedistHost = "127.0.0.1:1";
    RunOn("Office");
    EXPECT_TRUE(Started("Tekmo 2.1.0 started")) << RunLog();
    ExpectProgramFolderClean();
}

TEST_F(DownloadRunTest, SetWithoutConfigIsTriedTwiceThenTheToolStartsAnyway) {
    ASSERT_TRUE(MakeSet(SetPath("Office"), "Office", kZipPassword, {"--no-config"}));
    RunOn("Office");
    EXPECT_EQ(frontend_.MessageTexts(),
              (std::vector<std::string>{"Failed two attempts to download/extract config!"}));
    EXPECT_EQ(CountLog("7zip (tekmo_Config.7z) returned errorlevel 0"), 2);
    EXPECT_TRUE(Started()) << RunLog();
}

TEST_F(DownloadRunTest, WrongArchivePasswordMovesNothingIntoTheToolTree) {
    // Stored entries without encrypted headers: a wrong password still writes
    // every file, with garbage in it. None of it may be deployed.
    ASSERT_TRUE(MakeSet(SetPath("Office"), "Office", "another secret", {"--stored"}));
    RunOn("Office");

    EXPECT_TRUE(frontend_.HasMessage("Failed two attempts to download/extract config!"));
    EXPECT_EQ(CountLog("7zip (tekmo_Config.7z) returned errorlevel 2"), 2);
    EXPECT_TRUE(LogHas("nothing moved"));
    EXPECT_FALSE(Exists(Tool("Config/Tekmo.ini")) || Exists(Tool("Scripts")));
    EXPECT_EQ(ListNames(Tool("3rd Party Tools/Ketarin")),
              (std::vector<std::string>{"Ketarin.txt"}));
    // The definitions step and the clean-up still ran.
    EXPECT_TRUE(Exists(Tool("Modules/Defs/core.def")));
    ExpectProgramFolderClean();
}

TEST_F(DownloadRunTest, SetThatDoesNotExistOnTheServerIsReportedOnEachAttempt) {
    LoadedPresenter();
    view_.SetText(MainField::User, "edge1");
    presenter_->OnLogin();
    Choose("a.b");  // listed from a.7z.b.7z, fetched as a.b.7z
    frontend_.messages.clear();
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    ASSERT_EQ(frontend_.messages.size(), 3U);
    EXPECT_EQ(frontend_.messages[2].text, "Failed two attempts to download/extract config!");
    EXPECT_FALSE(LogHas("tekmo_Defs.7z) returned"));  // the definitions were not fetched
    ExpectProgramFolderClean();
}

// The server's text under its own title; archives left by an earlier run stay unused.
TEST_F(DownloadRunTest, RefusedSignInIsShownAndLeftArchivesAreNotDeployed) {
    std::filesystem::create_directories(prog_);
    std::filesystem::copy_file(SetPath("Workshop"), prog_ + "/tekmo_Config.7z");
    std::filesystem::copy_file(SubscriberHome() + "/Tekmo/Defs/tekmo_Defs.7z",
                               prog_ + "/tekmo_Defs.7z");
    LoadedPresenter();
    Choose("Office");
    view_.SetText(MainField::Password, "not the password");
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    ASSERT_GE(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].title, "Error Opening Connection!");
    EXPECT_FALSE(Exists(Tool("Config/Tekmo.ini")) || Exists(Tool("Modules/Defs/core.def")));
    ExpectProgramFolderClean();
}

TEST_F(DownloadRunTest, AccountWithoutConfigSetsGetsItsFoldersAndItsSingleArchive) {
    LoadedPresenter();
    view_.SetText(MainField::User, "legacy1");
    presenter_->OnLogin();
    Choose("Tekmo_Config");
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    const std::string home = repo_ + "/subscribers/legacy1/Tekmo";
    EXPECT_TRUE(Exists(home + "/ConfigSets"));
    EXPECT_TRUE(Exists(home + "/Defs"));
    EXPECT_NE(ReadFile(Tool("Config/Tekmo.ini")).find("ConfigSet=Tekmo_Config"), std::string::npos);
}

TEST_F(DownloadRunTest, UnattendedRunWithStoredDefaultDeploysAndStartsWithoutShowingTheWindow) {
    WriteSetting("DefaultConfig", "workshop");
    LoadedPresenter();
    EXPECT_TRUE(EndsProcess([&] { presenter_->RunUnattended(); }));
    EXPECT_EQ(view_.shows, 0);
    EXPECT_FALSE(view_.Enabled(MainControl::DownloadRunButton));
    EXPECT_NE(ReadFile(Tool("Config/Tekmo.ini")).find("ConfigSet=Workshop"), std::string::npos);
    EXPECT_TRUE(Started("Tekmo 2.2.0 started with arguments: [/deltalvane]")) << RunLog();
    EXPECT_FALSE(frontend_.splash.IsOpen());
    EXPECT_FALSE(frontend_.splash.bar.values.empty());
    const std::vector<std::string>& labels = frontend_.status.labels;
    for (const char* label : {"Extracting Config...", "Copying Files...", "Cleaning Up..."})
        EXPECT_NE(std::find(labels.begin(), labels.end(), label), labels.end()) << label;
}

TEST_F(DownloadRunTest, SevenZipComesOnlyFromTheMirrorWhenOneIsConfigured) {
    // Unreachable: the launcher ends without trying the repository.
    endpoints_.SevenZipMirrorURL = "http://127.0.0.1:1/7za920.zip";
    RunOn("Office");
    ASSERT_FALSE(frontend_.messages.empty());
    EXPECT_EQ(frontend_.messages.back().text.rfind("Download aborted.", 0), 0U);
    EXPECT_FALSE(LogHas("attempting to retrieve 7zip from Nimbara"));
    EXPECT_FALSE(Exists(runLog_));

    log_.clear();
    std::filesystem::create_directories(web_ + "/mirror");
    std::filesystem::rename(repo_ + "/7za.zip", web_ + "/mirror/7za920.zip");
    endpoints_.SevenZipMirrorURL = cloud_->httpBase() + "/mirror/7za920.zip";
    RunOn("Office");
    EXPECT_TRUE(LogHas("retrieved 7zip from sourceforge"));
    EXPECT_FALSE(LogHas("attempting to retrieve 7zip from Nimbara") || LogHas("search path"));
    EXPECT_TRUE(Exists(Tool("Config/Tekmo.ini")));
}

// An archive without the program (reported with the full path), then no archive
// at all: each time the 7-Zip on the search path is used.
TEST_F(DownloadRunTest, WithoutAUsableSourceASevenZipOnTheSearchPathIsUsed) {
    ASSERT_TRUE(WriteExecutableZip(repo_ + "/7za.zip", {{"readme.txt", "no program here"}}));
    RunOn("Office");
    EXPECT_TRUE(LogHas("could not extract 7za.zip successfully or file not found:  " + prog_ +
                       "/7z/" + Exe("7za")));
    EXPECT_TRUE(LogHas("found on the search path"));

    log_.clear();
    // On Windows the tool's file stays in use while it runs.
    std::error_code inUse;
    for (int i = 0; i < 100 && (std::filesystem::remove_all(extract_, inUse), inUse); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::filesystem::remove(repo_ + "/7za.zip");
    RunOn("Office");
    EXPECT_TRUE(LogHas("could not find 7za.zip for extraction!"));
    EXPECT_TRUE(LogHas("found on the search path"));
    EXPECT_TRUE(Exists(Tool("Config/Tekmo.ini")));
    ExpectProgramFolderClean();
}

TEST_F(DownloadRunTest, MissingPackageOnTheServerEndsWithItsMessageAndLeavesNoPart) {
    std::filesystem::remove(redist_ + "/Redist/tekmoUpdate.zip");
    RunOn("Office");
    EXPECT_EQ(frontend_.MessageTexts(), (std::vector<std::string>{"Problem downloading tekmo!"}));
    EXPECT_FALSE(Exists(prog_ + "/tekmoUpdate.zip"));
    EXPECT_FALSE(Exists(extract_));
}

TEST_F(DownloadRunTest, ClicksDuringARunAreIgnoredButTheLayoutStillToggles) {
    LoadedPresenter();
    Choose("Office");
    int hookCalls = 0;
    frontend_.onPump = [&] {
        if (hookCalls++ > 0) return;
        presenter_->OnRunPrevious();  // would say "select a previous version"
        presenter_->OnLogin();        // would confirm a refreshed list
        presenter_->OnInstall(ui::Installer::Pellam);
        presenter_->Expand();
    };
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    EXPECT_GT(hookCalls, 0);
    EXPECT_TRUE(frontend_.messages.empty()) << frontend_.messages.front().text;
    EXPECT_EQ(view_.WidthTwips(), ui::kMainFullSize.width);
    EXPECT_TRUE(LogHas("ignored while a workflow runs"));
    EXPECT_FALSE(Exists(Tool("Modules/Pellam")));
}

}  // namespace
}  // namespace talvane::testing
