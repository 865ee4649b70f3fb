// The main window's own logic without servers: layouts, default preselection,
// settings saving, progress routing and the abort path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_presenter.h"
#include "app/messages.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "common/process.h"
#include "common/strings.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MainCheck;
using ui::MainField;

// No servers: every host is a closed loopback port, the update check is off.
class PresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteText(tmp_.file("prog/Talvane"), "#!/bin/sh\n", 0755));
        OverrideExecutablePath(tmp_.file("prog/Talvane"));
        WriteStartBanner();
        session_ = Session{SettingsFilePath(), tmp_.file("drive/tekmo"), "", "", "", ""};
        endpoints_ = {"127.0.0.1:1", "127.0.0.1:1", "", "http://127.0.0.1:1/Subscribers/", ""};
        presenter_ = std::make_unique<ui::MainPresenter>(frontend_, view_, session_, endpoints_);
    }
    void FillCombo(const std::vector<std::string>& items) {
        view_.ClearConfigs();
        for (const auto& item : items) view_.AddConfig(item);
    }
    std::string Message(std::size_t i) { return frontend_.messages.at(i).text; }
    std::string Setting(const std::string& key) {
        return ReadIniValue(SettingsFilePath(), names::kSettingsSection, key);
    }

    TempDir tmp_;
    LogCapture log_;
    FakeFrontend frontend_;
    FakeMainView view_;
    Session session_;
    Endpoints endpoints_;
    std::unique_ptr<ui::MainPresenter> presenter_;
};

TEST_F(PresenterTest, LoadWithUnreachableRepositoryLeavesListsEmptyAndClosesSplash) {
    frontend_.splash.Show();
    presenter_->Load();
    EXPECT_TRUE(view_.Configs().empty());
    EXPECT_TRUE(view_.PreviousVersions().empty());
    EXPECT_EQ(frontend_.splash.bar.values, (std::vector<long>{20, 80, 100}));
    EXPECT_FALSE(frontend_.splash.IsOpen());
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(PresenterTest, StoredDefaultSelectsMatchingEntryOnly) {
    // "%prompt%" is never preselected by the main window, even when listed.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"FIELD TEAM", "Field Team"}, {"Workshop", ""}, {"%prompt%", ""}, {"%PROMPT%", ""}, {"", ""}};
    // clang-format on
    for (const auto& [stored, expected] : cases) {
        FillCombo({"Office", "Field Team", "%prompt%"});
        WriteIniValue(SettingsFilePath(), names::kSettingsSection, "DefaultConfig", stored);
        presenter_->SelectDefaultConfig();
        EXPECT_EQ(view_.ConfigText(), expected) << stored;
    }
}

TEST_F(PresenterTest, SaveSettingsScramblesBothPasswordsAndWritesDefaultOnlyWhenTicked) {
    FillCombo({"Office"});
    view_.SetConfigText("Office");
    view_.SetText(MainField::User, "tech1");
    view_.SetText(MainField::Password, "pass word");
    view_.SetText(MainField::ZipPassword, "");

    presenter_->SaveSettings();
    EXPECT_EQ(Setting("DefaultConfig"), "");
    EXPECT_EQ(Setting("UserName"), "tech1");
    EXPECT_EQ(UnscrambleString(Setting("Password")), "pass word");
    // An empty password is stored too, as scrambled text that reads back empty.
    EXPECT_EQ(Setting("ZipPassword"), ScrambleString(""));
    EXPECT_EQ(ReadFile(SettingsFilePath()).find("pass word"), std::string::npos);
    EXPECT_TRUE(frontend_.messages.empty());  // written normally: no message

    view_.SetChecked(MainCheck::SaveDefault, true);
    presenter_->SaveSettings();
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
}

TEST_F(PresenterTest, SettingsThatCannotBeWrittenAreReportedBeforeQuitting) {
    // Something that is not a writable file stands where the settings belong.
    ASSERT_TRUE(MakeSureDirExists(SettingsFilePath()));
    view_.SetText(MainField::User, "someone");
    presenter_->OnSaveQuit();
    EXPECT_EQ(frontend_.endedWith, 0);
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(Message(0).rfind("The settings could not be saved to " + SettingsFilePath(), 0), 0U);
    EXPECT_EQ(frontend_.messages[0].icon, ui::MsgIcon::Exclamation);
    EXPECT_TRUE(log_.contains("settings could not be written"));
}

TEST_F(PresenterTest, DownloadAbortShowsReasonUnderDownloadTitle) {
    ui::ReportDownloadAborted(frontend_, 0x800C0005L, "Resource Not Found.");
    ui::ReportDownloadAborted(frontend_, 1, "");
    EXPECT_EQ(
        frontend_.MessageTexts(),
        (std::vector<std::string>{"Download aborted. Resource Not Found.", "Download aborted."}));
    EXPECT_EQ(frontend_.messages[0].title, "Download");
    EXPECT_EQ(frontend_.messages[0].icon, ui::MsgIcon::Critical);
}

TEST_F(PresenterTest, EmptyConfigChoiceStopsBothRunButtonsWithTheirMessages) {
    presenter_->OnDownloadRun();
    presenter_->OnRunPrevious();
    FillCombo({"Office"});
    view_.SetConfigText("Office");
    presenter_->OnRunPrevious();
    EXPECT_EQ(frontend_.MessageTexts(),
              (std::vector<std::string>{"You must select a config first!",
                                        "You must select a config first!",
                                        "You must select a previous version first!"}));
    EXPECT_EQ(frontend_.messages.back().title, "Talvane");
    EXPECT_FALSE(Exists(session_.ExtractFolder));
}

}  // namespace
}  // namespace talvane::testing
