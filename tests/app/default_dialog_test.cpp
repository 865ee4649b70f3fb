// The default-configuration dialog: its list, both settings and the logo import.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/default_dialog_presenter.h"
#include "app/messages.h"
#include "common/app_paths.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

class DefaultDialogTest : public WorkflowTest {
  protected:
    ui::DefaultDialogPresenter& Dialog() {
        dialog_ = std::make_unique<ui::DefaultDialogPresenter>(frontend_, dialogView_, session_,
                                                               endpoints_);
        dialog_->Load();
        return *dialog_;
    }
    std::string Logo() const { return prog_ + "/Talvane.bmp"; }

    FakeDialogView dialogView_;
    std::unique_ptr<ui::DefaultDialogPresenter> dialog_;
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
    Dialog().OnSave();
    EXPECT_EQ(Setting("DefaultConfig"), "%prompt%");
    EXPECT_EQ(Setting("DefaultPath"), "%desktop%");
    EXPECT_TRUE(dialog_->Closed());
    EXPECT_TRUE(dialogView_.closed);

    WriteSetting("DefaultConfig", "Office");
    WriteSetting("DefaultPath", "");
    Dialog();
    dialogView_.SelectExtractToFolder(true);
    dialog_->OnClose();
    EXPECT_TRUE(dialog_->Closed());
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
    EXPECT_EQ(Setting("DefaultPath"), "");
}

TEST_F(DefaultDialogTest, SaveThatCannotWriteTheSettingsSaysSo) {
    ui::DefaultDialogPresenter& dialog = Dialog();
    const std::string ini = SettingsFilePath();
    std::filesystem::remove(ini);
    ASSERT_TRUE(std::filesystem::create_directory(ini));
    dialog.OnSave();
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text.rfind("The settings could not be saved", 0), 0U);
    EXPECT_TRUE(dialog_->Closed());
}

TEST_F(DefaultDialogTest, ImportCopiesTheBitmapUnderTheLogoName) {
    const std::string picture = tmp_.file("Pictures/Logo.BMP");
    ASSERT_TRUE(WriteText(picture, "BM fake bitmap bytes"));
    ui::DefaultDialogPresenter& dialog = Dialog();
    frontend_.fileDialogAnswers.push_back(picture);
    dialog.OnImport();

    EXPECT_EQ(frontend_.fileDialogTitles.at(0), "Select a supported graphic to import.");
    EXPECT_EQ(frontend_.fileDialogFilters.at(0), "Bitmaps (*.bmp)|*.bmp");
    EXPECT_EQ(ReadFile(Logo()), "BM fake bitmap bytes");
    EXPECT_TRUE(Exists(picture));  // copied, not moved
    EXPECT_EQ(dialogView_.LogoLabel(), "Found!");
    EXPECT_EQ(frontend_.MessageTexts(), (std::vector<std::string>{"Logo Imported."}));

    // A second import replaces the logo; a cancel changes nothing.
    ASSERT_TRUE(WriteText(tmp_.file("Pictures/Other.bmp"), "BM other"));
    frontend_.fileDialogAnswers.push_back(tmp_.file("Pictures/Other.bmp"));
    dialog.OnImport();
    EXPECT_EQ(ReadFile(Logo()), "BM other");
    frontend_.messages.clear();
    dialog.OnImport();  // no answer queued: cancelled
    EXPECT_TRUE(frontend_.messages.empty());
}

// A folder, a missing file and the logo itself: a message, and nothing harmed.
TEST_F(DefaultDialogTest, FailedImportSaysSoAndHarmsNothing) {
    const std::string folder = tmp_.file("Pictures/Album.bmp");
    ASSERT_TRUE(WriteText(folder + "/inside.bmp", "BM inside"));
    Dialog();
    for (const std::string& chosen : {folder, tmp_.file("Pictures/Gone.bmp"), Logo()}) {
        SCOPED_TRACE(chosen);
        if (chosen == Logo()) {
            ASSERT_TRUE(WriteText(Logo(), "BM the logo"));
            Dialog();
        }
        frontend_.messages.clear();
        frontend_.fileDialogAnswers.push_back(chosen);
        dialog_->OnImport();
        const std::string text = "Oops, there was a problem importing that logo." +
                                 std::string(ui::kLineBreak) + ui::kLineBreak + chosen;
        EXPECT_EQ(frontend_.MessageTexts(), std::vector<std::string>{text});
        if (chosen != Logo()) {
            EXPECT_FALSE(Exists(Logo()));
            EXPECT_EQ(dialogView_.LogoLabel(), "---");
        }
    }
    EXPECT_EQ(ReadFile(Logo()), "BM the logo");
}

}  // namespace
}  // namespace talvane::testing
