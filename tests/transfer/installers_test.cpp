// The five Kitworks installers against the real subscriber web area.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::Installer;
using ui::MainCheck;
using ui::MainField;

struct InstallerCase {
    Installer which;
    const char* app;
};

class InstallerTest : public WorkflowTest, public ::testing::WithParamInterface<InstallerCase> {
  protected:
    std::string AppName() const { return GetParam().app; }
    std::string LocalSetup() const {
        return extract_ + "/Modules/" + AppName() + "/" + AppName() + "Setup.exe";
    }
    std::string ServerSetup() const {
        return web_ + "/Subscribers/" + kSubscriber + "/" + AppName() + "/" + AppName() +
               "Setup.exe";
    }
};

TEST_P(InstallerTest, DownloadsOnceAndPassesSilentExactlyWhenTicked) {
    LoadedPresenter();
    ASSERT_TRUE(view_.Checked(MainCheck::SilentInstall));  // ticked at start
    presenter_->OnInstall(GetParam().which);
    EXPECT_TRUE(Exists(LocalSetup()));
    EXPECT_NE(RunLog().find(AppName() + "Setup started with arguments: [/silent]"),
              std::string::npos)
        << RunLog();

    // Gone from the server: the copy on disk is run again, without the switch.
    std::filesystem::remove(ServerSetup());
    view_.SetChecked(MainCheck::SilentInstall, false);
    presenter_->OnInstall(GetParam().which);
    EXPECT_NE(RunLog().find(AppName() + "Setup started with arguments: []"), std::string::npos)
        << RunLog();
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_P(InstallerTest, EmptyUserNameStopsEvenWithTheSetupOnDisk) {
    ASSERT_TRUE(
        WriteText(LocalSetup(), "#!/bin/sh\necho \"ran anyway\" >> \"$TEKMO_RUN_LOG\"\n", 0755));
    LoadedPresenter();
    view_.SetText(MainField::User, "");
    presenter_->OnInstall(GetParam().which);
    EXPECT_EQ(frontend_.MessageTexts(),
              (std::vector<std::string>{"You must enter your Nimbara credentials first!"}));
    EXPECT_FALSE(Exists(runLog_));
}

INSTANTIATE_TEST_SUITE_P(Kitworks, InstallerTest,
                         ::testing::Values(InstallerCase{Installer::Pellam, "Pellam"},
                                           InstallerCase{Installer::Harlo, "Harlo"},
                                           InstallerCase{Installer::Quorra, "Quorra"},
                                           InstallerCase{Installer::Sorvik, "Sorvik"},
                                           InstallerCase{Installer::Umbrin, "Umbrin"}),
                         [](const auto& c) { return std::string(c.param.app); });

class InstallerFailureTest : public WorkflowTest {};

TEST_F(InstallerFailureTest, SetupMissingOnTheServerEndsWithTheAbortMessage) {
    LoadedPresenter();
    view_.SetText(MainField::User, "edge1");  // no web folder
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnInstall(Installer::Harlo); }));
    ASSERT_FALSE(frontend_.messages.empty());
    EXPECT_EQ(frontend_.messages.back().title, "Download");
    EXPECT_EQ(frontend_.messages.back().text.rfind("Download aborted.", 0), 0U);
    EXPECT_FALSE(Exists(extract_ + "/Modules/Harlo/HarloSetup.exe"));
}

// The user name goes into the URL as typed, blank and all.
TEST_F(InstallerFailureTest, UserNameWithABlankReachesItsWebFolder) {
    const std::string folder = web_ + "/Subscribers/tech one/Harlo";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(web_ + "/Subscribers/" + kSubscriber + "/Harlo/HarloSetup.exe",
                               folder + "/HarloSetup.exe");
    LoadedPresenter();
    view_.SetText(MainField::User, "tech one");
    presenter_->OnInstall(Installer::Harlo);
    EXPECT_NE(RunLog().find("HarloSetup started with arguments: [/silent]"), std::string::npos)
        << RunLog();
    EXPECT_TRUE(frontend_.messages.empty());
}

}  // namespace
}  // namespace talvane::testing
