// The five Kitworks installers against the real subscriber web area.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::Installer;
using ui::MainCheck;
using ui::MainField;

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
    ASSERT_TRUE(view_.Checked(MainCheck::SilentInstall));  // ticked at start
    for (const auto& [which, app] : kInstallers) {
        view_.SetChecked(MainCheck::SilentInstall, true);
        presenter_->OnInstall(which);
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
    for (const auto& [which, app] : kInstallers) {
        ASSERT_TRUE(WriteStandIn(LocalSetup(app), "ran anyway"));
        frontend_.messages.clear();
        presenter_->OnInstall(which);
        EXPECT_EQ(frontend_.MessageTexts(),
                  (std::vector<std::string>{"You must enter your Nimbara credentials first!"}))
            << app;
    }
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

}  // namespace
}  // namespace talvane::testing
