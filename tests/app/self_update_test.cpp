// Self-update against the real web server: the offer at load and "Update Me!".
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/names.h"
#include "settings/settings.h"
#include "app/startup.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MainControl;
using ui::MainField;

class SelfUpdateTest : public WorkflowTest {
  protected:
    bool PublishIndex(const std::string& version, const std::string& url,
                      const std::string& packageFrom = {}) {
        std::vector<std::string> args{"update-index", "--web", web_, "--version",
                                      version,        "--url", url};
        if (!packageFrom.empty()) {
            args.push_back("--package-from");
            args.push_back(packageFrom);
        }
        return RunContentTool(args);
    }
    std::string PackageUrl() const { return cloud_->httpBase() + "/Talvane.zip"; }
    // A stand-in for the new launcher that reports its start.
    std::string NewLauncher() {
        const std::string path = tmp_.file("new/Talvane");
        EXPECT_TRUE(WriteText(path,
                              "#!/bin/sh\necho \"new launcher started [$*]\" >> "
                              "\"$TEKMO_RUN_LOG\"\n",
                              0755));
        return path;
    }
    std::string OldExe() const { return prog_ + "/Talvane_old"; }
    const std::string oldContent_ = "#!/bin/sh\nexit 0\n";
};

struct OfferCase {
    const char* indexVersion;
    bool offered;
};

class UpdateOfferTest : public SelfUpdateTest, public ::testing::WithParamInterface<OfferCase> {};

TEST_P(UpdateOfferTest, IndexVersionAgainstTheProgramVersion) {
    ASSERT_TRUE(PublishIndex(GetParam().indexVersion, ""));
    MakePresenter();
    EXPECT_EQ(presenter_->CheckForUpdate(), GetParam().offered);
    EXPECT_EQ(view_.Visible(MainControl::UpdatePanel), GetParam().offered);
    EXPECT_EQ(view_.Visible(MainControl::SelectConfigGroup), !GetParam().offered);
    EXPECT_FALSE(Exists(prog_ + "/VelmoraUpdates.zip"));
}

// The program is 2.3.4; the index compares by weighted keys.
INSTANTIATE_TEST_SUITE_P(Versions, UpdateOfferTest,
                         ::testing::Values(OfferCase{"2.3.5", true}, OfferCase{"2.3.4", false},
                                           OfferCase{"2.2.105", true}, OfferCase{"2.4", false},
                                           OfferCase{"02.03.0005", true},
                                           OfferCase{"1.9.9", false}));

TEST_F(SelfUpdateTest, OfferAtLoadReplacesTheNormalPreparation) {
    ASSERT_TRUE(PublishIndex("9.0.0", PackageUrl()));
    frontend_.splash.Show();
    LoadedPresenter();
    EXPECT_TRUE(view_.Visible(MainControl::UpdatePanel));
    EXPECT_FALSE(view_.Visible(MainControl::SelectConfigGroup));
    EXPECT_FALSE(view_.Enabled(MainControl::SelectConfigGroup));
    EXPECT_EQ(view_.Text(MainField::User), "");
    EXPECT_EQ(view_.Text(MainField::Password), "");
    EXPECT_TRUE(view_.Configs().empty());
    EXPECT_TRUE(view_.PreviousVersions().empty());
    EXPECT_TRUE(frontend_.splash.IsOpen());
    EXPECT_EQ(frontend_.splash.bar.values, (std::vector<long>{20, 40, 60}));

    // The boxes were never filled: Save && Quit stores them empty.
    WriteSetting("UserName", kSubscriber);
    presenter_->Expand();
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnSaveQuit(); }));
    EXPECT_EQ(Setting("UserName"), "");
    EXPECT_EQ(UnscrambleString(Setting("Password")), "");
    EXPECT_EQ(UnscrambleString(Setting("ZipPassword")), "");
}

TEST_F(SelfUpdateTest, UpdateReplacesTheProgramStartsItAndTheNextStartRemovesTheOldOne) {
    ASSERT_TRUE(PublishIndex("9.0.0", PackageUrl(), NewLauncher()));
    LoadedPresenter();
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnUpdate(); }));

    EXPECT_TRUE(WaitForText(runLog_, "new launcher started []")) << RunLog();
    EXPECT_NE(ReadFile(exe_).find("new launcher"), std::string::npos);
    EXPECT_EQ(ReadFile(OldExe()), oldContent_);
    EXPECT_FALSE(Exists(prog_ + "/Talvane.zip"));
    EXPECT_FALSE(Exists(prog_ + "/VelmoraUpdates.ini"));
    EXPECT_TRUE(frontend_.messages.empty());

    EXPECT_TRUE(CleanUpOldExecutable());
    EXPECT_FALSE(Exists(OldExe()));
    EXPECT_TRUE(Exists(exe_));
}

// A package that does not unpack, or brings no program that starts, must not
// leave the folder without a launcher (only the "_old" copy).
TEST_F(SelfUpdateTest, PackageWithoutAStartableProgramGivesTheProgramItsNameBack) {
    const std::vector<std::pair<std::string, std::string>> packages[] = {
        {},                                               // not a zip archive
        {{"Readme.txt", "release notes\n"}},              // no program at all
        {{"Talvane", "this is not a program at all\n"}},  // not a program format
        {{"Talvane/Readme.txt", "a folder named like the program\n"}},
        {{"Talvane_old", "takes the backup's name\n"}, {"Talvane", "not a program\n"}},
    };
    for (const auto& entries : packages) {
        ASSERT_TRUE(PublishIndex("9.0.0", PackageUrl()));
        ASSERT_TRUE(entries.empty() ? WriteText(web_ + "/Talvane.zip", "not a zip archive\n")
                                    : WriteExecutableZip(web_ + "/Talvane.zip", entries));
        frontend_.messages.clear();
        LoadedPresenter();
        EXPECT_TRUE(EndsProcess([&] { presenter_->OnUpdate(); })) << entries.size();
        EXPECT_EQ(frontend_.MessageTexts(), (std::vector<std::string>{"Failed to unzip update."}));
        EXPECT_EQ(ReadFile(exe_), oldContent_) << entries.size();
        EXPECT_FALSE(Exists(OldExe()));
        for (const std::string& name : FolderEntries(prog_))
            EXPECT_TRUE(name == "Talvane" || name == "Talvane.ini") << name;
        if (!entries.empty()) {
            EXPECT_FALSE(Exists(prog_ + "/Talvane.zip"));
        }
    }
}

TEST_F(SelfUpdateTest, PackageUrlThatIsNotWebIsRefused) {
    for (const std::string& url : {std::string("ftp://") + cloud_->redistHost() + "/Talvane.zip",
                                   "file://" + web_ + "/Talvane.zip", std::string()}) {
        ASSERT_TRUE(PublishIndex("9.0.0", url, NewLauncher()));
        frontend_.messages.clear();
        LoadedPresenter();
        EXPECT_TRUE(EndsProcess([&] { presenter_->OnUpdate(); })) << url;
        EXPECT_EQ(frontend_.MessageTexts(),
                  (std::vector<std::string>{"Failed to download update."}))
            << url;
        EXPECT_EQ(ReadFile(exe_), oldContent_);
        EXPECT_FALSE(Exists(OldExe()));
        EXPECT_FALSE(Exists(prog_ + "/Talvane.zip"));
    }
}

}  // namespace
}  // namespace talvane::testing
