// Run Previous Ver against the real local cloud.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MainCheck;

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
    EXPECT_EQ(frontend_.MessageTexts(), (std::vector<std::string>{"Problem downloading Tekmo!"}));
    EXPECT_FALSE(Exists(prog_ + "/Tekmo.zip"));
    EXPECT_FALSE(Exists(extract_ + "/" + Exe("Tekmo")));
}

TEST_F(PreviousVersionTest, UnreachableRedistStartsTheToolAlreadyDeployed) {
    LoadedPresenter();  // lists the versions while the host is still reachable
    view_.SetConfigText("Office");
    ASSERT_TRUE(view_.SelectVersion("Tekmo_2.1.0.zip"));
    ASSERT_TRUE(WriteStandIn(extract_ + "/" + Exe("Tekmo"), "deployed earlier"));
    endpoints_.RedistHost = "127.0.0.1:1";
    LoadedPresenter();  // same view, new host; the list keeps its entries
    view_.SetConfigText("Office");
    ASSERT_EQ(view_.SelectedPreviousVersion(), "Tekmo_2.1.0.zip");
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnRunPrevious(); }));
    EXPECT_TRUE(WaitForText(runLog_, "deployed earlier started with arguments: []")) << RunLog();
    EXPECT_TRUE(Exists(extract_ + "/Config/Tekmo.ini"));  // still synchronised
}

}  // namespace
}  // namespace talvane::testing
