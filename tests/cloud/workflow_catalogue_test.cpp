// The configuration-set catalogue against the real repository server.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using ui::MainField;

class CatalogueTest : public WorkflowTest {
  protected:
    // Signs in as `account` through the Login button.
    void LoginAs(const std::string& account) {
        LoadedPresenter();
        frontend_.messages.clear();
        view_.SetText(MainField::User, account);
        view_.SetText(MainField::Password, kSubscriberPassword);
        presenter_->OnLogin();
    }
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(CatalogueTest, SetsAreListedWithoutTheirExtensionAndTheDefaultIsPreselected) {
    WriteSetting("DefaultConfig", "field team");
    LoadedPresenter();
    EXPECT_EQ(Sorted(view_.ComboItems()),
              (std::vector<std::string>{"Field Team", "Office", "Workshop"}));
    EXPECT_EQ(view_.ComboText(), "Field Team");
    EXPECT_EQ(view_.Text(MainField::User), kSubscriber);
    EXPECT_EQ(Sorted(view_.ListItems()),
              (std::vector<std::string>{"Tekmo_2.0.1.zip", "Tekmo_2.1.0.zip"}));
    EXPECT_FALSE(frontend_.splash.IsOpen());
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(CatalogueTest, PromptSettingPreselectsNothing) {
    WriteSetting("DefaultConfig", "%PROMPT%");
    LoadedPresenter();
    EXPECT_EQ(view_.ComboItems().size(), 3U);
    EXPECT_EQ(view_.ComboText(), "");
}

TEST_F(CatalogueTest, LoginRefreshesTheListAndConfirms) {
    LoginAs(kSubscriber);
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text, std::string("Test Login Success!") + ui::kLineBreak +
                                              "Config list has been refreshed!");
    EXPECT_EQ(frontend_.messages[0].title, "Talvane");
    EXPECT_EQ(frontend_.messages[0].icon, ui::MsgIcon::None);
    EXPECT_EQ(view_.ComboItems().size(), 3U);
}

TEST_F(CatalogueTest, WrongPasswordShowsNothingAndKeepsTheList) {
    LoginAs(kSubscriber);
    frontend_.messages.clear();
    view_.SetText(MainField::Password, "wrong");
    presenter_->OnLogin();
    EXPECT_TRUE(frontend_.messages.empty());
    EXPECT_EQ(view_.ComboItems().size(), 3U);
}

TEST_F(CatalogueTest, NamesWithTheExtensionInsideOrWithoutItAreListedAsTheRuleSays) {
    LoginAs("edge1");
    EXPECT_EQ(Sorted(view_.ComboItems()), (std::vector<std::string>{"Notes", "a.b"}));
}

TEST_F(CatalogueTest, EmptyFolderYieldsThePlaceholderSelected) {
    LoginAs("empty1");
    EXPECT_EQ(view_.ComboItems(), (std::vector<std::string>{"[Pre-Conversion]"}));
    EXPECT_EQ(view_.ComboText(), "[Pre-Conversion]");
}

TEST_F(CatalogueTest, AccountWithoutConfigSetsFolderListsItsLoginFolder) {
    LoginAs("legacy1");
    EXPECT_EQ(view_.ComboItems(), (std::vector<std::string>{"Tekmo_Config"}));
}

}  // namespace
}  // namespace talvane::testing
