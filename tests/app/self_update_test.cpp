// Self-update against the real web server: the offer at load and "Update Me!".
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/names.h"
#include "settings/settings.h"
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
        if (!packageFrom.empty()) args.insert(args.end(), {"--package-from", packageFrom});
        return RunContentTool(args);
    }
    std::string PackageUrl() const { return cloud_->httpBase() + "/Talvane.zip"; }
    // A stand-in for the new launcher that reports its start.
    std::string NewLauncher() {
        const std::string path = tmp_.file("new/" + Exe("Talvane"));
        EXPECT_TRUE(WriteStandIn(path, "new launcher"));
        return path;
    }
    const std::string oldContent_ = "#!/bin/sh\nexit 0\n";
};

// The program is 2.3.4; version comparison itself is covered by the strings test.
TEST_F(SelfUpdateTest, OfferedOnlyForANewerIndexVersion) {
    for (const auto& [version, offered] : {std::pair{"2.3.4", false}, {"2.3.5", true}}) {
        ASSERT_TRUE(PublishIndex(version, ""));
        LoadedPresenter();
        EXPECT_EQ(view_.Visible(MainControl::UpdatePanel), offered) << version;
        EXPECT_EQ(view_.Visible(MainControl::SelectConfigGroup), !offered) << version;
    }
    EXPECT_FALSE(Exists(prog_ + "/VelmoraUpdates.zip"));
}

TEST_F(SelfUpdateTest, OfferAtLoadReplacesTheNormalPreparation) {
    ASSERT_TRUE(PublishIndex("9.0.0", PackageUrl()));
    frontend_.splash.Show();
    LoadedPresenter();
    EXPECT_TRUE(view_.Visible(MainControl::UpdatePanel));
    EXPECT_FALSE(view_.Visible(MainControl::SelectConfigGroup));
    EXPECT_TRUE(view_.Configs().empty());
    EXPECT_TRUE(frontend_.splash.IsOpen());
    EXPECT_EQ(frontend_.splash.bar.values, (std::vector<long>{20, 40, 60}));

    // The boxes were never filled: Save && Quit stores them empty.
    WriteSetting("UserName", kSubscriber);
    presenter_->Expand();
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnSaveQuit(); }));
    EXPECT_EQ(Setting("UserName"), "");
    EXPECT_EQ(UnscrambleString(Setting("Password")), "");
}

// A package that does not unpack, or brings no program that starts, must not
// leave the folder without a launcher (only the "_old" copy).
TEST_F(SelfUpdateTest, PackageWithoutAStartableProgramGivesTheProgramItsNameBack) {
    const std::vector<std::pair<std::string, std::string>> packages[] = {
        {},                                                    // not a zip archive
        {{"Readme.txt", "release notes\n"}},                   // no program at all
        {{Exe("Talvane"), "this is not a program at all\n"}},  // not a program format
        {{Exe("Talvane") + "/Readme.txt", "a folder named like the program\n"}},
        {{Exe("Talvane_old"), "takes the backup's name\n"}, {Exe("Talvane"), "not a program\n"}},
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
        for (const std::string& name : ListNames(prog_))  // no backup, no package left
            EXPECT_TRUE(name == Exe("Talvane") || name == "Talvane.ini") << name;
    }
}

TEST_F(SelfUpdateTest, PackageUrlThatIsNotWebIsRefused) {
    for (const std::string& url : {std::string("ftp://") + cloud_->redistHost() + "/Talvane.zip",
                                   "file://" + web_ + "/Talvane.zip", std::string()}) {
        SCOPED_TRACE(url);
        ASSERT_TRUE(PublishIndex("9.0.0", url, NewLauncher()));
        frontend_.messages.clear();
        LoadedPresenter();
        EXPECT_TRUE(EndsProcess([&] { presenter_->OnUpdate(); }));
        EXPECT_EQ(frontend_.MessageTexts(), std::vector<std::string>{"Failed to download update."});
        EXPECT_EQ(ReadFile(exe_), oldContent_);
        for (const std::string& name : ListNames(prog_))  // no backup, no package
            EXPECT_TRUE(name == Exe("Talvane") || name == "Talvane.ini") << name;
    }
}

}  // namespace
}  // namespace talvane::testing
