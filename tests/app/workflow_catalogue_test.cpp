// The configuration-set catalogue against the real repository server.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/messages.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MainField;
using Strings = std::vector<std::string>;

Strings Sorted(Strings v) {
    std::sort(v.begin(), v.end());
    return v;
}

class CatalogueTest : public WorkflowTest {};

TEST_F(CatalogueTest, SetsAreListedWithoutTheirExtensionAndTheDefaultIsPreselected) {
    WriteSetting("DefaultConfig", "field team");
    LoadedPresenter();
    EXPECT_EQ(Sorted(view_.Configs()), (Strings{"Field Team", "Office", "Workshop"}));
    EXPECT_EQ(view_.ConfigText(), "Field Team");
    EXPECT_EQ(view_.Text(MainField::User), kSubscriber);
    EXPECT_EQ(Sorted(view_.PreviousVersions()), (Strings{"Tekmo_2.0.1.zip", "Tekmo_2.1.0.zip"}));
    EXPECT_FALSE(frontend_.splash.IsOpen());
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(CatalogueTest, LoginRefreshesAndConfirmsAWrongPasswordSaysSo) {
    LoadedPresenter();
    presenter_->OnLogin();
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text, std::string("Test Login Success!") + ui::kLineBreak +
                                              "Config list has been refreshed!");
    EXPECT_EQ(frontend_.messages[0].title, "Talvane");
    EXPECT_EQ(frontend_.messages[0].icon, ui::MsgIcon::None);
    EXPECT_EQ(view_.Configs().size(), 3U);

    frontend_.messages.clear();
    view_.SetText(MainField::Password, "wrong");
    presenter_->OnLogin();
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(
        frontend_.messages[0].text.rfind(std::string("Test Login Failed!") + ui::kLineBreak, 0),
        0U);
    EXPECT_NE(frontend_.messages[0].text.find("Check the user name and password"),
              std::string::npos);
    EXPECT_EQ(frontend_.messages[0].icon, ui::MsgIcon::Exclamation);
    EXPECT_EQ(view_.Configs().size(), 3U);
}

// Names with the extension inside or without it, an empty folder (placeholder,
// selected) and an account without a ConfigSets folder (its login folder).
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

}  // namespace
}  // namespace talvane::testing
