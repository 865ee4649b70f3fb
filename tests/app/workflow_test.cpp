// The windows' workflows against the real local cloud.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/default_dialog_presenter.h"
#include "app/messages.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "settings/settings.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using app::Installer;
using app::MainCheck;
using app::MainControl;
using app::MainField;
using Strings = std::vector<std::string>;
using testing::U8;

Strings Sorted(Strings v) {
    std::sort(v.begin(), v.end());
    return v;
}

class CatalogueTest : public WorkflowTest {};

// The window is drawn first (the splash closed, nothing listed), then filled while busy.
TEST_F(CatalogueTest, ShownWindowIsFilledAfterItIsDrawnWithTheDefaultPreselected) {
    struct WatchedView : FakeMainView {
        const FakeFrontend* frontend = nullptr;
        Strings seen;
        void SetBusy(bool busy) override { seen.push_back(busy ? "busy" : "idle"); }
        void WaitUntilDrawn() override {
            seen.push_back((IsShown() ? "drawn with " : "hidden with ") +
                           std::to_string(Configs().size() + PreviousVersions().size()) +
                           (frontend->splash.IsOpen() ? " entries, splash open" : " entries"));
        }
    } view;
    view.frontend = &frontend_;
    WriteSetting("DefaultConfig", "field team");
    frontend_.splash.Show();
    app::MainPresenter(frontend_, view, session_, endpoints_).Show();
    EXPECT_EQ(view.seen, (Strings{"busy", "drawn with 0 entries", "idle"}));
    EXPECT_EQ(Sorted(view.Configs()), (Strings{"Field Team", "Office", "Workshop"}));
    EXPECT_EQ(view.ConfigText(), "Field Team");
    EXPECT_EQ(view.Text(MainField::User), kSubscriber);
    EXPECT_EQ(Sorted(view.PreviousVersions()), (Strings{"Tekmo_2.0.1.zip", "Tekmo_2.1.0.zip"}));
    EXPECT_TRUE(frontend_.messages.empty());
}

// Both lists on one host with one account: one sign-in serves them.
TEST_F(CatalogueTest, OneSignInServesBothListsOnOneHostAndAccount) {
    ASSERT_TRUE(WriteFile(repo_ + "/Redist/Tekmo_3.0.0.zip"));
    endpoints_.RedistHost = endpoints_.RepositoryHost;
    session_.UserName = names::kBuiltInUser;
    session_.Password = names::kBuiltInPassword;
    LoadedPresenter();
    EXPECT_EQ(view_.PreviousVersions(), Strings{"Tekmo_3.0.0.zip"});
    const std::string log = ReadFile(tmp_.file("cloud.log"));
    const auto first = log.find("logged in.");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(first, log.rfind("logged in.")) << log;
}

// A refused sign-in: the real-server e2e tests.
TEST_F(CatalogueTest, LoginRefreshesAndConfirms) {
    LoadedPresenter();
    const auto signOuts = [this] {
        const std::string log = ReadFile(tmp_.file("cloud.log"));
        std::size_t n = 0;
        for (auto at = log.find("[tech1] FTP session closed"); at != std::string::npos;
             at = log.find("[tech1] FTP session closed", at + 1))
            ++n;
        return n;
    };
    const std::size_t before = signOuts();
    presenter_->OnLogin();
    // The test signs out again: the server sees its session end.
    for (int i = 0; i < 500 && signOuts() == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(signOuts(), before + 1) << ReadFile(tmp_.file("cloud.log"));
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text, std::string("Test Login Success!") + app::kLineBreak +
                                              "Config list has been refreshed!");
    EXPECT_EQ(frontend_.messages[0].title, "Talvane");
    EXPECT_EQ(frontend_.messages[0].icon, app::MsgIcon::None);
    EXPECT_EQ(view_.Configs().size(), 3U);
    EXPECT_EQ(view_.status, "Test Login Success!");  // what the box said stays

    frontend_.messages.clear();
    view_.SetText(MainField::Password, "wrong");
    presenter_->OnLogin();
    const std::string refused = "Sign-in refused by " + endpoints_.RepositoryHost + ": 530";
    EXPECT_EQ(view_.status.rfind(refused, 0), 0U) << view_.status;  // until the next action
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(
        frontend_.messages[0].text.rfind(std::string("Test Login Failed!") + app::kLineBreak, 0),
        0U);
    EXPECT_NE(frontend_.messages[0].text.find("Check the user name and password"),
              std::string::npos);
    EXPECT_EQ(frontend_.messages[0].icon, app::MsgIcon::Exclamation);
    EXPECT_EQ(view_.Configs().size(), 3U);
    // A server that cannot be reached is no password problem.
    endpoints_.RepositoryHost = "127.0.0.1:1";
    frontend_.messages.clear();
    app::MainPresenter(frontend_, view_, session_, endpoints_).OnLogin();
    EXPECT_NE(frontend_.MessageTexts().at(0).find("Check the network connection"),
              std::string::npos);
    // An empty list at start-up says why.
    session_.Password = "wrong";
    endpoints_.RepositoryHost = cloud_->repositoryHost();
    FakeMainView fresh;
    app::MainPresenter(frontend_, fresh, session_, endpoints_).Load();
    EXPECT_EQ(fresh.status.rfind(refused, 0), 0U) << fresh.status;
}

// Extension inside or missing, an empty folder, an account without a ConfigSets folder.
TEST_F(CatalogueTest, UnusualAccountsAreListedAsTheRuleSays) {
    const std::pair<const char*, Strings> cases[] = {{"edge1", {"Notes", "a.b"}},
                                                     {"empty1", {"[Pre-Conversion]"}},
                                                     {"legacy1", {"Tekmo_Config"}}};
    LoadedPresenter();
    for (const auto& [account, items] : cases) {
        view_.SetText(MainField::User, account);
        presenter_->OnLogin();
        EXPECT_EQ(Sorted(view_.Configs()), items) << account;
    }
    view_.SetText(MainField::User, "empty1");
    presenter_->OnLogin();
    EXPECT_EQ(view_.ConfigText(), "[Pre-Conversion]");
}

#ifndef _WIN32  // the longest name makes a path longer than Windows takes
// A name the settings could not give back whole is not offered; one at the limit is.
TEST_F(CatalogueTest, SetNamesTooLongForTheSettingsAreNotOffered) {
    const std::string longest(kMaxNameLength, 'n');
    ASSERT_TRUE(WriteFile(SubscriberHome() + "/Tekmo/ConfigSets/" + longest));
    ASSERT_TRUE(WriteFile(SubscriberHome() + "/Tekmo/ConfigSets/" + longest + "n"));
    LoadedPresenter();
    EXPECT_EQ(Sorted(view_.Configs()), (Strings{"Field Team", "Office", "Workshop", longest}));
}
#endif

class DownloadRunTest : public WorkflowTest {
  protected:
    void Choose(const std::string& set) {
        view_.SetConfigText(set);
        ASSERT_EQ(view_.ConfigText(), set);
    }
    std::string Tool(const std::string& rel) const { return extract_ + "/" + rel; }
    // After a run: the program, its settings (and the index while the launcher runs).
    void ExpectProgramFolderClean(bool running = false) const {
        for (const std::string& name : ListNames(prog_))
            EXPECT_TRUE(name == Exe("Talvane") || name == "Talvane.ini" ||
                        (running && name == "VelmoraUpdates.ini"))
                << "left behind: " << name;
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
};

// Also: what a run cut short left in SyncTemp belongs to another set and must never be deployed.
TEST_F(DownloadRunTest, CompleteRunDeploysTheTreeStartsTheToolAndLeavesNothingBehind) {
    ASSERT_TRUE(WriteFile(prog_ + "/SyncTemp/Config/Stale.ini", "from an earlier set"));
    ASSERT_TRUE(WriteFile(prog_ + "/SyncTemp/Scripts/stale.cmd", "from an earlier set"));
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
              (Strings{"Ketarin.txt", "jobs.db", "settings.db"}));

    EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.2.0 started with arguments: [/deltalvane]"))
        << RunLog();
    ExpectProgramFolderClean();
    EXPECT_TRUE(frontend_.messages.empty());
    EXPECT_TRUE(view_.closed);
    EXPECT_EQ(frontend_.activities, (Strings{"Extracting tekmoUpdate.zip", "Extracting 7za.zip",
                                             "Decrypting configuration", "Starting Tekmo"}));

    EXPECT_TRUE(LogHas("retrieved 7zip from Nimbara"));
}

// Delete Me unticked: the tool gets no arguments.
TEST_F(DownloadRunTest, PackageMadeWithoutUnixPermissionsStillStartsTheTool) {
    ASSERT_TRUE(RezipWithoutUnixPermissions(redist_ + "/Redist/tekmoUpdate.zip"));
    view_.SetChecked(MainCheck::DeleteMe, false);
    RunOn("Office");
    EXPECT_TRUE(Started("Tekmo 2.2.0 started with arguments: []")) << RunLog();
    EXPECT_TRUE(frontend_.messages.empty());
}

// The work files beside the program have fixed names: a second launcher must not touch them.
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

// Unattended, the window goes to the user; a click saves the default; a leftover package is used.
TEST_F(DownloadRunTest, UnreachableRedistStaysWithoutAPackageOrUsesOneLeftByAnEarlierRun) {
    WriteSetting("DefaultConfig", "office");
    endpoints_.RedistHost = "127.0.0.1:1";
    LoadedPresenter();
    EXPECT_FALSE(EndsProcess([&] { presenter_->RunUnattended(); }));
    EXPECT_TRUE(view_.IsShown());
    Choose("Office");
    view_.SetChecked(MainCheck::SaveDefault, true);
    frontend_.messages.clear();
    EXPECT_FALSE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    EXPECT_EQ(frontend_.MessageTexts().at(0).rfind("The tekmo download server could not", 0), 0U);
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
    EXPECT_FALSE(Exists(extract_));

    std::filesystem::copy_file(U8(redist_ + "/Redist/Tekmo_2.1.0.zip"),
                               U8(prog_ + "/tekmoUpdate.zip"));
    RunOn("Office");
    EXPECT_TRUE(Started("Tekmo 2.1.0 started")) << RunLog();
    ExpectProgramFolderClean();
}

TEST_F(DownloadRunTest, SetWithoutConfigIsTriedTwiceThenTheToolStartsAnyway) {
    ASSERT_TRUE(MakeSet("Office", kZipPassword, "--no-config"));
    RunOn("Office");
    EXPECT_EQ(frontend_.MessageTexts(),
              (Strings{"Failed two attempts to download/extract config!"}));
    EXPECT_EQ(log_.count("7zip (tekmo_Config.7z) returned errorlevel 0"), 2);
    EXPECT_TRUE(Started()) << RunLog();
}

// A set that carries its folders in an inner zip archive deploys them as a plain one does.
TEST_F(DownloadRunTest, SetWithAnInnerZipDeploysItsFolders) {
    ASSERT_TRUE(MakeSet("Office", kZipPassword, "--inner-zip"));
    RunOn("Office");
    EXPECT_TRUE(frontend_.messages.empty()) << frontend_.messages[0].text;
    EXPECT_NE(ReadFile(Tool("Config/Tekmo.ini")).find("ConfigSet=Office"), std::string::npos);
}

// Stored entries: a wrong password writes garbage; none is deployed, an old Tekmo.ini no success.
TEST_F(DownloadRunTest, WrongArchivePasswordMovesNothingIntoTheToolTree) {
    ASSERT_TRUE(MakeSet("Office", "another secret", "--stored"));
    ASSERT_TRUE(WriteFile(Tool("Config/Tekmo.ini"), "ConfigSet=from an earlier set\n"));
    RunOn("Office");
    EXPECT_EQ(frontend_.MessageTexts(),
              (Strings{"Failed two attempts to download/extract config!"}));
    EXPECT_EQ(log_.count("7zip (tekmo_Config.7z) returned errorlevel 2"), 2);
    EXPECT_TRUE(LogHas("nothing moved"));
    EXPECT_EQ(ReadFile(Tool("Config/Tekmo.ini")), "ConfigSet=from an earlier set\n");
    EXPECT_FALSE(Exists(Tool("Scripts")));
    EXPECT_EQ(ListNames(Tool("3rd Party Tools/Ketarin")), (Strings{"Ketarin.txt"}));
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
    std::filesystem::create_directories(U8(prog_));
    std::filesystem::copy_file(U8(SetPath("Workshop")), U8(prog_ + "/tekmo_Config.7z"));
    std::filesystem::copy_file(U8(SubscriberHome() + "/Tekmo/Defs/tekmo_Defs.7z"),
                               U8(prog_ + "/tekmo_Defs.7z"));
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

// The unattended run shows the transfer on the splash, its only window.
// It lists the earlier versions only when it hands the window to the user.
TEST_F(DownloadRunTest, UnattendedRunShowsTheTransferOnTheSplash) {
    for (const char* set : {"no such set", "workshop"}) {
        WriteSetting("DefaultConfig", set);
        presenter_ = std::make_unique<app::MainPresenter>(frontend_, view_, session_, endpoints_);
        const bool ended = EndsProcess([&] { presenter_->RunUnattended(); });
        EXPECT_EQ(view_.PreviousVersions().size(), ended ? 0U : 2U) << set;
        view_ = {};
    }
    const std::vector<std::string>& lines = frontend_.splash.lines;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Downloading ", 0) == 0;
    })) << ::testing::PrintToString(lines);
}

// An archive without the program, then no archive: each time the 7-Zip on the search path runs.
TEST_F(DownloadRunTest, WithoutAUsableSourceASevenZipOnTheSearchPathIsUsed) {
    ASSERT_TRUE(WriteExecutableZip(repo_ + "/7za.zip", {{"readme.txt", "no program here"}}));
    RunOn("Office");
    EXPECT_TRUE(LogHas("could not extract 7za.zip successfully or file not found:  " + prog_ +
                       "/7z/" + Exe("7za")));
    EXPECT_TRUE(LogHas("found on the search path"));

    log_.clear();
    // On Windows the tool's file stays in use while it runs.
    std::error_code inUse;
    for (int i = 0; i < 100 && (std::filesystem::remove_all(U8(extract_), inUse), inUse); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::filesystem::remove(repo_ + "/7za.zip");
    RunOn("Office");
    EXPECT_TRUE(LogHas("could not find 7za.zip for extraction!"));
    EXPECT_TRUE(LogHas("found on the search path"));
    EXPECT_TRUE(Exists(Tool("Config/Tekmo.ini")));
    ExpectProgramFolderClean();
}

TEST_F(DownloadRunTest, MissingPackageOnTheServerEndsWithItsMessage) {
    std::filesystem::remove(redist_ + "/Redist/tekmoUpdate.zip");
    RunOn("Office");
    EXPECT_EQ(frontend_.MessageTexts(), (Strings{"Problem downloading tekmo!"}));
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
        presenter_->OnInstall(app::Installer::Pellam);
        presenter_->Expand();
    };
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnDownloadRun(); }));
    EXPECT_GT(hookCalls, 0);
    EXPECT_TRUE(frontend_.messages.empty()) << frontend_.messages.front().text;
    EXPECT_EQ(view_.WidthTwips(), app::kMainFullSize.width);
    EXPECT_TRUE(LogHas("ignored while a workflow runs"));
    EXPECT_FALSE(Exists(Tool("Modules/Pellam")));
}

// The new tree cannot take the old one's place (here its journal cannot be written): the run
// says so and ends, the tool is not started from the old tree, and nothing of it changed.
TEST_F(DownloadRunTest, ATreeThatCannotBeReplacedEndsTheRunWithoutStartingTheTool) {
    RunOn("Office");
    const std::string marker = Tool("Config/kept.txt");
    ASSERT_TRUE(WriteFile(marker, "the old tree"));
    ASSERT_TRUE(WaitForText(runLog_, "started with arguments"));  // the first run's tool
    std::remove(runLog_.c_str());
    const std::string journal = prog_ + "/Talvane.deploying";
    frontend_.onPump = [&] {
        if (Exists(journal) && !std::filesystem::is_directory(U8(journal))) {
            std::filesystem::remove(U8(journal));
            std::filesystem::create_directory(U8(journal));
        }
    };
    frontend_.messages.clear();
    RunOn("Office");
    frontend_.onPump = nullptr;
    const auto shown = frontend_.MessageTexts();
    ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown[0].rfind("Tekmo could not be updated.", 0), 0u) << shown[0];
    EXPECT_EQ(frontend_.endedWith, std::optional<int>(1));  // failed
    EXPECT_EQ(ReadFile(marker), "the old tree");
    EXPECT_FALSE(WaitForText(runLog_, "started with arguments", 500)) << RunLog();
}

class PreviousVersionTest : public WorkflowTest {};

TEST_F(PreviousVersionTest, ChosenVersionIsDeployedWithTheConfigAndStartedWithoutArguments) {
    LoadedPresenter();
    view_.SetConfigText("Workshop");
    ASSERT_TRUE(view_.SelectVersion("Tekmo_2.0.1.zip"));
    view_.SetChecked(MainCheck::DeleteMe, true);  // has no effect here
    view_.SetChecked(MainCheck::SaveDefault, true);

    EXPECT_TRUE(EndsProcess([&] { presenter_->OnRunPrevious(); }));
    EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.0.1 started with arguments: []")) << RunLog();
    EXPECT_NE(ReadFile(extract_ + "/Config/Tekmo.ini").find("ConfigSet=Workshop"),
              std::string::npos);
    EXPECT_EQ(Setting("DefaultConfig"), "Workshop");
    for (const char* name : {"Tekmo.zip", "SyncTemp", "7z"})
        EXPECT_FALSE(Exists(prog_ + "/" + name));
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(PreviousVersionTest, MissingPackageOnTheServerEndsWithItsMessage) {
    LoadedPresenter();
    view_.SetConfigText("Office");
    view_.AddPreviousVersion("Tekmo_0.0.1.zip");
    ASSERT_TRUE(view_.SelectVersion("Tekmo_0.0.1.zip"));
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnRunPrevious(); }));
    EXPECT_EQ(frontend_.MessageTexts(), (Strings{"Problem downloading Tekmo!"}));
    EXPECT_FALSE(Exists(prog_ + "/Tekmo.zip"));
    EXPECT_FALSE(Exists(extract_ + "/" + Exe("Tekmo")));
}

class InstallerTest : public WorkflowTest {
  protected:
    std::string LocalSetup(const std::string& app) const {
        return extract_ + "/Modules/" + app + "/" + app + "Setup.exe";
    }
};

const std::pair<Installer, const char*> kInstallers[] = {{Installer::Pellam, "Pellam"},
                                                         {Installer::Harlo, "Harlo"},
                                                         {Installer::Quorra, "Quorra"},
                                                         {Installer::Sorvik, "Sorvik"},
                                                         {Installer::Umbrin, "Umbrin"}};

TEST_F(InstallerTest, DownloadsOnceAndPassesSilentExactlyWhenTicked) {
    LoadedPresenter();
    for (const auto& [which, app] : kInstallers) {
        view_.SetChecked(MainCheck::SilentInstall, true);
        view_.bar.values.clear();
        presenter_->OnInstall(which);
        ASSERT_FALSE(view_.bar.values.empty());
        EXPECT_EQ(view_.bar.values.front(), 0) << "the last download's bar was kept";
        EXPECT_NE(std::find_if(view_.bar.values.begin(), view_.bar.values.end(),
                               [](long v) { return v > 0; }),
                  view_.bar.values.end())
            << "no progress shown";
        EXPECT_NE(RunLog().find(std::string(app) + "Setup started with arguments: [/silent]"),
                  std::string::npos)
            << RunLog();
        // Gone from the server: the copy on disk is run again, without the switch.
        std::filesystem::remove(web_ + "/Subscribers/" + kSubscriber + "/" + app + "/" + app +
                                "Setup.exe");
        view_.SetChecked(MainCheck::SilentInstall, false);
        presenter_->OnInstall(which);
        EXPECT_NE(RunLog().find(std::string(app) + "Setup started with arguments: []"),
                  std::string::npos)
            << RunLog();
    }
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(InstallerTest, EmptyUserNameStopsEvenWithTheSetupOnDisk) {
    LoadedPresenter();
    view_.SetText(MainField::User, "");
    ASSERT_TRUE(WriteStandIn(LocalSetup("Quorra"), "ran anyway"));
    presenter_->OnInstall(Installer::Quorra);
    EXPECT_EQ(frontend_.MessageTexts(),
              (Strings{"You must enter your Nimbara credentials first!"}));
    EXPECT_FALSE(Exists(runLog_));
}

TEST_F(InstallerTest, SetupMissingOnTheServerEndsWithTheAbortMessage) {
    LoadedPresenter();
    view_.SetText(MainField::User, "edge1");  // no web folder
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnInstall(Installer::Harlo); }));
    ASSERT_FALSE(frontend_.messages.empty());
    EXPECT_EQ(frontend_.messages.back().text.rfind("Download aborted.", 0), 0U);
    EXPECT_FALSE(Exists(LocalSetup("Harlo")));
}

class SelfUpdateTest : public WorkflowTest {
  protected:
    const std::string oldContent_ = "#!/bin/sh\nexit 0\n";
};

// The program is 2.3.4, as the index of every other test here says (no offer there).
TEST_F(SelfUpdateTest, OfferAtLoadForANewerVersionReplacesTheNormalPreparation) {
    ASSERT_TRUE(PublishIndex("2.3.5", PackageUrl()));
    frontend_.splash.Show();
    LoadedPresenter();
    EXPECT_TRUE(view_.Visible(MainControl::UpdatePanel));
    EXPECT_FALSE(view_.Visible(MainControl::SelectConfigGroup));
    EXPECT_FALSE(view_.Enabled(MainControl::SelectConfigGroup));  // no key reaches it hidden
    EXPECT_TRUE(view_.Configs().empty());
    EXPECT_TRUE(frontend_.splash.IsOpen());
    EXPECT_EQ(frontend_.splash.bar.values, (std::vector<long>{20, 40, 60}));

    // The boxes were never filled: Save && Quit keeps what is stored, what was typed is saved.
    WriteSetting("UserName", kSubscriber);
    const std::string zipPassword = Setting("ZipPassword");
    presenter_->Expand();
    view_.SetText(MainField::Password, "typed");
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnSaveQuit(); }));
    EXPECT_EQ(Setting("UserName"), kSubscriber);
    EXPECT_EQ(UnscrambleString(Setting("Password")), "typed");
    EXPECT_EQ(Setting("ZipPassword"), zipPassword);
}

// An index left by an earlier run is not the server's word: an archive without one offers nothing.
TEST_F(SelfUpdateTest, AnIndexLeftByAnEarlierRunOffersNothing) {
    ASSERT_TRUE(
        WriteFile(prog_ + "/VelmoraUpdates.ini",
                  "[TekmoTalvane]\nCurrentVersion=9.0.0\nDownloadURL=" + PackageUrl() + "\n"));
    ASSERT_TRUE(WriteExecutableZip(web_ + "/VelmoraUpdates.zip", {{"readme.txt", "no index"}}));
    LoadedPresenter();
    EXPECT_FALSE(view_.Visible(MainControl::UpdatePanel));
}

// A bad URL or package: the folder keeps its launcher, with no backup or package beside it.
TEST_F(SelfUpdateTest, FailedUpdateGivesTheProgramItsNameBack) {
    const std::string download = "Failed to download update.", unzip = "Failed to unzip update.";
    const struct {
        std::string url, message;
        std::vector<std::pair<std::string, std::string>> entries;  // none: not a zip archive
    } cases[] = {
        {std::string("ftps://") + cloud_->redistHost() + "/Talvane.zip", download, {}},
        {"file://" + web_ + "/Talvane.zip", download, {}},
        {"", download, {}},
        {PackageUrl(), unzip, {}},
        {PackageUrl(), unzip, {{"Readme.txt", "release notes\n"}}},  // no program at all
        {PackageUrl(), unzip, {{Exe("Talvane"), "this is not a program at all\n"}}},
        {PackageUrl(), unzip, {{Exe("Talvane") + "/Readme.txt", "a folder named so\n"}}},
        {PackageUrl(),
         unzip,
         {{Exe("Talvane_old"), "takes the backup's name\n"}, {Exe("Talvane"), "no program\n"}}},
    };
    const std::string launcher = tmp_.file("new/" + Exe("Talvane"));
    ASSERT_TRUE(WriteStandIn(launcher, "new launcher"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + std::to_string(c.entries.size()));
        ASSERT_TRUE(PublishIndex("9.0.0", c.url, launcher));  // a good package on the web server
        // What an earlier attempt left unpacked is never taken for this package's program.
        if (c.message == unzip) {
            ASSERT_TRUE(WriteStandIn(prog_ + "/.update-staging/" + Exe("Talvane"), "stale"));
        }
        const std::string zip = web_ + "/Talvane.zip";
        ASSERT_TRUE(c.message != unzip || (c.entries.empty() ? WriteFile(zip, "not a zip archive\n")
                                                             : WriteExecutableZip(zip, c.entries)));
        frontend_.messages.clear();
        LoadedPresenter();
        EXPECT_TRUE(EndsProcess([&] { presenter_->OnUpdate(); }));
        EXPECT_EQ(frontend_.MessageTexts(), std::vector<std::string>{c.message});
        EXPECT_EQ(ReadFile(exe_), oldContent_);
        for (const std::string& name : ListNames(prog_))
            EXPECT_TRUE(name == Exe("Talvane") || name == "Talvane.ini") << name;
    }
    // A good package, but another launcher works in the folder: the program stays.
    ASSERT_TRUE(PublishIndex("9.0.0", PackageUrl(), launcher));
    FolderLock otherLauncher;
    ASSERT_TRUE(otherLauncher.TryLock(prog_));
    frontend_.messages.clear();
    LoadedPresenter();
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnUpdate(); }));
    EXPECT_EQ(frontend_.MessageTexts().at(0).rfind("Another Talvane is already working", 0), 0U);
    EXPECT_EQ(ReadFile(exe_), oldContent_);
}

class DefaultDialogTest : public WorkflowTest {
  protected:
    app::DefaultDialogPresenter& Dialog() {
        dialog_ = std::make_unique<app::DefaultDialogPresenter>(frontend_, dialogView_, session_,
                                                                endpoints_);
        dialog_->Load();
        return *dialog_;
    }
    std::string Logo() const { return prog_ + "/Talvane.bmp"; }

    FakeDialogView dialogView_;
    std::unique_ptr<app::DefaultDialogPresenter> dialog_;
};

TEST_F(DefaultDialogTest, RefusedSignInLeavesTheListEmptySilently) {
    session_.Password = "wrong";
    Dialog();
    EXPECT_TRUE(dialogView_.Configs().empty());
    EXPECT_TRUE(frontend_.messages.empty());
    dialogView_.SelectAutoDownload(true);
    dialog_->OnSave();
    EXPECT_EQ(Setting("DefaultConfig"), "");
}

TEST_F(DefaultDialogTest, SaveUntouchedWritesPromptAndDesktopCloseWritesNothing) {
    WriteSetting("DefaultConfig", "Office");
    WriteSetting("DefaultPath", "\\Tools");
    Dialog();
    EXPECT_EQ(dialogView_.stored, "Stored now: Office, \\Tools");  // what Save replaces
    dialog_->OnSave();
    EXPECT_EQ(Setting("DefaultConfig"), "%prompt%");
    EXPECT_EQ(Setting("DefaultPath"), "%desktop%");
    EXPECT_TRUE(dialog_->Closed());
    EXPECT_TRUE(dialogView_.closed);

    WriteSetting("DefaultConfig", "Office");
    WriteSetting("DefaultPath", "");
    Dialog();
    dialogView_.SelectExtractToFolder(true);
    EXPECT_EQ(dialogView_.stored, "Stored now: Office, Desktop");
    dialog_->OnClose();
    EXPECT_TRUE(dialog_->Closed());
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
    EXPECT_EQ(Setting("DefaultPath"), "");
}

TEST_F(DefaultDialogTest, FolderTheSettingsCannotKeepIsRefusedBeforeAnythingIsWritten) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string(kMaxNameLength, 'f'), ""},
        {std::string(kMaxNameLength + 1, 'f'), "The folder is longer than 254 characters."},
        {"\\Tools\r", "The folder holds a line break, which the settings file cannot keep."}};
    for (const auto& [folder, refusal] : cases) {
        std::filesystem::remove(U8(session_.SettingsFile));
        frontend_.messages.clear();
        Dialog();
        dialogView_.SelectExtractToFolder(true);
        dialogView_.SetFolderText(folder);
        dialog_->OnSave();
        EXPECT_EQ(frontend_.MessageTexts(),
                  refusal.empty() ? Strings{}
                                  : Strings{refusal + app::kLineBreak + "Nothing was saved."});
        EXPECT_EQ(dialog_->Closed(), refusal.empty());
        EXPECT_EQ(Setting("DefaultPath"), refusal.empty() ? folder : "");
    }
}

TEST_F(DefaultDialogTest, SaveThatCannotWriteTheSettingsSaysSo) {
    app::DefaultDialogPresenter& dialog = Dialog();
    const std::string ini = SettingsFilePath();
    std::filesystem::remove(U8(ini));
    ASSERT_TRUE(std::filesystem::create_directory(U8(ini)));
    dialog.OnSave();
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text.rfind("The settings could not be saved", 0), 0U);
    EXPECT_TRUE(dialog_->Closed());
}

TEST_F(DefaultDialogTest, ImportCopiesTheBitmapUnderTheLogoName) {
    const std::string picture = tmp_.file("Pictures/Logo.BMP"), bytes = Bitmap(40, 2, 1);
    ASSERT_TRUE(WriteFile(picture, bytes));
    app::DefaultDialogPresenter& dialog = Dialog();
    frontend_.fileDialogAnswers.push_back(picture);
    dialog.OnImport();

    EXPECT_EQ(ReadFile(Logo()), bytes);
    EXPECT_TRUE(Exists(picture));  // copied, not moved
    EXPECT_EQ(dialogView_.LogoLabel(), "Found!");
    EXPECT_EQ(frontend_.MessageTexts(), (Strings{"Logo Imported."}));

    // A second import replaces the logo; a cancel changes nothing.
    ASSERT_TRUE(WriteFile(tmp_.file("Pictures/Other.bmp"), Bitmap(12, 3, 3)));
    frontend_.fileDialogAnswers.push_back(tmp_.file("Pictures/Other.bmp"));
    dialog.OnImport();
    EXPECT_EQ(ReadFile(Logo()), Bitmap(12, 3, 3));
    frontend_.messages.clear();
    dialog.OnImport();  // no answer queued: cancelled
    EXPECT_TRUE(frontend_.messages.empty());
}

// A folder, a missing file, a file that is no picture and the logo itself: a
// message, and nothing harmed.
TEST_F(DefaultDialogTest, FailedImportSaysSoAndHarmsNothing) {
    const std::string folder = tmp_.file("Pictures/Album.bmp"), notes = tmp_.file("Notes.bmp");
    ASSERT_TRUE(WriteFile(folder + "/inside.bmp", "BM inside") && WriteFile(notes, "BM notes"));
    Dialog();
    const std::string noBitmap = " is not a bitmap (BMP) picture.";
    const std::pair<std::string, std::string> cases[] = {
        {folder, noBitmap},
        {tmp_.file("Pictures/Gone.bmp"), noBitmap},
        {notes, noBitmap},
        {Logo(), " lies in the program folder already."}};
    for (const auto& [chosen, cause] : cases) {
        SCOPED_TRACE(chosen);
        if (chosen == Logo()) {
            ASSERT_TRUE(WriteFile(Logo(), Bitmap(40, 1, 1)));
            Dialog();
        }
        frontend_.messages.clear();
        frontend_.fileDialogAnswers.push_back(chosen);
        dialog_->OnImport();
        const std::string text = "Oops, there was a problem importing that logo." +
                                 std::string(app::kLineBreak) + chosen + cause;
        EXPECT_EQ(frontend_.MessageTexts(), std::vector<std::string>{text});
        if (chosen != Logo()) {
            EXPECT_FALSE(Exists(Logo()));
            EXPECT_EQ(dialogView_.LogoLabel(), "---");
        }
    }
    EXPECT_EQ(ReadFile(Logo()), Bitmap(40, 1, 1));
}

}  // namespace
}  // namespace talvane::testing
