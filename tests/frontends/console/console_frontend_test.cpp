// The console frontend: how windows, message boxes and progress read on the
// terminal, and how typed commands reach the window logic.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "support/temp_dir.h"
#include "frontends/console/console_frontend.h"
#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"

namespace talvane::testing {
namespace {

using ui::MainCheck;
using ui::MainControl;
using ui::MainField;
using ui::MsgIcon;
using ui::console::ConsoleFrontend;
using ui::console::ConsoleOptions;
using ui::console::ConsoleOutput;
using ui::console::ProgressMark;

// EndProcess of the frontend under test.
struct ConsoleEnded {
    int code;
};

// A FILE* whose whole content can be read back.
class Capture {
  public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() {
        if (file_) std::fclose(file_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::FILE* get() const { return file_; }
    std::string text() const {
        std::fflush(file_);
        std::string out;
        std::rewind(file_);
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }

  private:
    std::FILE* file_;
};

// The read end of a pipe for the frontend, the write end for the test.
class Input {
  public:
    Input() {
        int fds[2] = {-1, -1};
        if (::pipe(fds) == 0) {
            read_ = fds[0];
            write_ = fds[1];
        }
    }
    ~Input() {
        CloseWriter();
        if (read_ >= 0) ::close(read_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    int fd() const { return read_; }
    void Send(const std::string& text) {
        ASSERT_EQ(::write(write_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseWriter() {
        if (write_ >= 0) ::close(write_);
        write_ = -1;
    }

  private:
    int read_ = -1;
    int write_ = -1;
};

::testing::AssertionResult Has(const std::string& text, const std::string& needle) {
    if (text.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << needle << "\" not in:\n" << text;
}

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exe_ = tmp_.file("prog/Talvane");
        ASSERT_TRUE(MakeSureDirExists(tmp_.file("prog")));
        { std::ofstream(exe_) << "#!/bin/sh\n"; }
        OverrideExecutablePath(exe_);
        InitAppSettings(true, true);
        session_ = Session{AppINI(), tmp_.file("drive/tekmo"), "", "", "", ""};
        // Closed loopback ports: nothing here may reach a server.
        endpoints_ = {"127.0.0.1:1", "127.0.0.1:1", "", "http://127.0.0.1:1/Subscribers/", ""};
    }
    void TearDown() override {
        SetEventPump(nullptr);
    }

    std::unique_ptr<ConsoleFrontend> MakeFrontend(bool sameStream = false, bool terminal = false) {
        ConsoleOptions options;
        options.out = out_.get();
        options.err = sameStream ? out_.get() : err_.get();
        options.inputFd = input_.fd();
        options.errIsTerminal = terminal;
        options.onEnd = [](int code) { throw ConsoleEnded{code}; };
        return std::make_unique<ConsoleFrontend>(options);
    }

    // A main window with a presenter that has not loaded (no network).
    void MakeMain() {
        console_ = MakeFrontend();
        view_ = console_->CreateMainView();
        presenter_ = std::make_unique<ui::MainPresenter>(*console_, *view_, session_, endpoints_);
        console_->Attach(presenter_.get(), nullptr);
    }
    void Fill(const std::vector<std::string>& items) {
        for (const auto& item : items) view_->AddConfig(item);
    }
    // Sends the lines, ends the input and runs the window until it unloads.
    int RunMain(const std::string& lines) {
        input_.Send(lines);
        input_.CloseWriter();
        try {
            console_->Run(presenter_.get(), nullptr);
        } catch (const ConsoleEnded& ended) {
            return ended.code;
        }
        ADD_FAILURE() << "the window loop returned without ending the process";
        return -1;
    }

    TempDir tmp_;
    std::string exe_;
    Session session_;
    Endpoints endpoints_;
    Capture out_;
    Capture err_;
    Input input_;
    std::unique_ptr<ConsoleFrontend> console_;
    std::unique_ptr<ui::MainView> view_;
    std::unique_ptr<ui::MainPresenter> presenter_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

TEST(MessageBoxFormat, OneBlockWithTitleIconAndEveryLine) {
    struct Case {
        std::string text, title;
        MsgIcon icon;
        std::string head;
        std::vector<std::string> lines;
    } cases[] = {
        {"You must select a config first!",
         "Talvane",
         MsgIcon::None,
         "+-- Talvane -",
         {"| You must select a config first!"}},
        {"Test Login Success!\r\nConfig list has been refreshed!",
         "Talvane",
         MsgIcon::None,
         "+-- Talvane -",
         {"| Test Login Success!", "| Config list has been refreshed!"}},
        {"Oops, there was a problem importing that logo.\n\n/x/Logo.BMP",
         "Talvane",
         MsgIcon::Exclamation,
         "+-- Talvane (exclamation) ---",
         {"| Oops, there was a problem importing that logo.", "|", "| /x/Logo.BMP"}},
        {"Download aborted. Could not connect",
         "Download",
         MsgIcon::Critical,
         "+-- Download (critical) ----",
         {"| Download aborted. Could not connect"}},
        {"", "Error Opening Connection!", MsgIcon::None, "+-- Error Opening Connection! ", {"|"}},
    };
    for (const Case& c : cases) {
        const std::string block = ConsoleFrontend::FormatMessageBox(c.text, c.title, c.icon);
        SCOPED_TRACE(block);
        EXPECT_EQ(block.back(), '\n');
        const auto lines = Lines(block);
        ASSERT_EQ(lines.size(), c.lines.size() + 2);
        EXPECT_EQ(lines.front().rfind(c.head, 0), 0u);
        EXPECT_EQ(lines.front().size(), 60u);
        EXPECT_EQ(lines.back(), "+" + std::string(59, '-'));
        for (std::size_t k = 0; k < c.lines.size(); ++k) EXPECT_EQ(lines[k + 1], c.lines[k]);
    }
}

TEST(ConsoleHelpers, EntriesAreFoundByNameFirstThenByNumber) {
    const std::vector<std::string> items{"Office", "Field Team", "2", "Workshop"};
    struct Case {
        std::string wanted;
        int index;
    } cases[] = {{"office", 0},
                 {"FIELD TEAM", 1},
                 {"2", 2},
                 {"4", 3},
                 {"1", 0},
                 {"0", -1},
                 {"5", -1},
                 {"", -1},
                 {"Field", -1},
                 {"-1", -1},
                 {"99999999999999999999", -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(ui::console::FindEntry(items, c.wanted), c.index) << c.wanted;
    }
    EXPECT_EQ(ui::console::FindEntry({}, "1"), -1);
}

TEST(ConsoleProgress, PlainLinesAreThrottledAndEndAtTheFullBar) {
    Capture out;
    Capture err;
    ConsoleOutput output(out.get(), err.get(), false);
    ProgressMark mark;
    for (long v = 0; v <= 1000; ++v) output.Progress(mark, "transfer", 0, 1000, v);
    const auto lines = Lines(err.text());
    ASSERT_FALSE(lines.empty());
    EXPECT_LT(lines.size(), 101u) << "one line per percent would be no throttling at all";
    EXPECT_EQ(lines.back(), "transfer [####################] 100% (1000/1000)");
    EXPECT_EQ(err.text().find('\r'), std::string::npos);
    EXPECT_TRUE(out.text().empty());
    // A second transfer with the same size is shown again.
    output.Progress(mark, "transfer", 0, 1000, 1000);
    EXPECT_EQ(Lines(err.text()).size(), lines.size()) << "same bar, same value: nothing new";
    output.Progress(mark, "transfer", 0, 10, 10);
    EXPECT_EQ(Lines(err.text()).back(), "transfer [####################] 100% (10/10)");
    // An unusable range shows nothing.
    const std::size_t before = err.text().size();
    output.Progress(mark, "transfer", 0, 0, 0);
    output.Progress(mark, "transfer", 10, 5, 7);
    EXPECT_EQ(err.text().size(), before);
}

TEST(ConsoleProgress, TerminalLineRewritesItselfAndEndsBeforeOtherOutput) {
    Capture both;
    ConsoleOutput output(both.get(), both.get(), true);
    ProgressMark mark;
    output.Progress(mark, "splash", 0, 100, 20);
    output.Note("[status] Extracting Config...");
    output.Progress(mark, "splash", 0, 100, 100);
    const std::string text = both.text();
    EXPECT_EQ(text.rfind("\rsplash [####----------------]  20% (20/100)", 0), 0u) << text;
    EXPECT_TRUE(Has(text, " 20% (20/100)\x1b[K\n[status] Extracting Config...\n"));
    EXPECT_EQ(text.substr(text.size() - 1), "\n");
    EXPECT_TRUE(Has(text, "\rsplash [####################] 100% (100/100)"));
}

TEST_F(ConsoleTest, CompactWindowShowsOnlyTheConfigurationChoice) {
    MakeMain();
    Fill({"Office", "Field Team", "Workshop"});
    view_->SetConfigText("field team");
    view_->SetText(MainField::Password, "Cl0ud-tech1");
    view_->Show();
    console_->RenderWindow();
    const std::string text = out_.text();
    EXPECT_TRUE(Has(text, "=== Download and Run tekmo Now? === window 5145 x 2220 twips\n"));
    EXPECT_TRUE(Has(text, "    1. Office\n  > 2. Field Team\n    3. Workshop\n"));
    EXPECT_TRUE(Has(text, "[ ] Save Config As Default"));
    EXPECT_TRUE(Has(text, "[Download & Run]"));
    EXPECT_FALSE(Has(text, "Password"));
    EXPECT_FALSE(Has(text, "Cl0ud-tech1"));
}

TEST_F(ConsoleTest, FullWindowShowsCredentialsMaskedVersionsAndInstallers) {
    MakeMain();
    presenter_->Expand();
    view_->SetText(MainField::User, "tech1");
    view_->SetText(MainField::Password, "Cl0ud-tech1");
    view_->SetText(MainField::ZipPassword, "kit 7749 blue");
    view_->AddPreviousVersion("Tekmo_2.0.1.zip");
    view_->AddPreviousVersion("Tekmo_2.1.0.zip");
    view_->SelectPreviousVersion(1);
    view_->Show();
    console_->RenderWindow();
    const std::string text = out_.text();
    EXPECT_TRUE(Has(text, "window 7530 x 4380 twips"));
    EXPECT_TRUE(Has(text, "[<<]"));
    EXPECT_TRUE(Has(text, "Username: tech1"));
    EXPECT_TRUE(Has(text, "  Password: ***********\n"));
    EXPECT_TRUE(Has(text, "  Encryption Password: *************\n"));
    EXPECT_FALSE(Has(text, "Cl0ud"));
    EXPECT_FALSE(Has(text, "7749"));
    EXPECT_TRUE(Has(text, "    1. Tekmo_2.0.1.zip\n  > 2. Tekmo_2.1.0.zip\n"));
    EXPECT_TRUE(Has(text, "[x] Silent Install"));
    for (const char* app : {"Pellam", "Harlo", "Quorra", "Sorvik", "Umbrin"}) {
        EXPECT_TRUE(Has(text, std::string(app) + " [>]"));
    }
    EXPECT_TRUE(Has(text, "[Save & Quit]"));
}

TEST_F(ConsoleTest, CommandsSetTheControlsAsTyped) {
    MakeMain();
    Fill({"Office", "Field Team", "Workshop"});
    view_->AddPreviousVersion("Tekmo_2.0.1.zip");
    view_->AddPreviousVersion("Tekmo_2.1.0.zip");
    EXPECT_TRUE(console_->Execute("select 3"));
    EXPECT_EQ(view_->ConfigText(), "Workshop");
    EXPECT_TRUE(console_->Execute("select   field team  "));
    EXPECT_EQ(view_->ConfigText(), "Field Team");
    EXPECT_FALSE(console_->Execute("select Garage"));
    EXPECT_EQ(view_->ConfigText(), "Field Team");
    EXPECT_TRUE(Has(err_.text(), "no configuration set \"Garage\""));
    EXPECT_TRUE(console_->Execute("version tekmo_2.1.0.zip"));
    EXPECT_EQ(view_->SelectedPreviousVersion(), "Tekmo_2.1.0.zip");
    EXPECT_TRUE(console_->Execute("version 1"));
    EXPECT_EQ(view_->SelectedPreviousVersion(), "Tekmo_2.0.1.zip");
    EXPECT_FALSE(console_->Execute("version 3"));
    // Texts are taken as typed, blanks included.
    EXPECT_TRUE(console_->Execute("zip-password kit 7749 blue"));
    EXPECT_TRUE(console_->Execute("USER tech one"));
    EXPECT_TRUE(console_->Execute("password"));
    EXPECT_EQ(view_->Text(MainField::ZipPassword), "kit 7749 blue");
    EXPECT_EQ(view_->Text(MainField::User), "tech one");
    EXPECT_EQ(view_->Text(MainField::Password), "");
}

TEST_F(ConsoleTest, SaveDefaultClickAlwaysClearsDeleteMe) {
    MakeMain();
    EXPECT_TRUE(console_->Execute("toggle delete-me"));
    EXPECT_TRUE(view_->Checked(MainCheck::DeleteMe));
    EXPECT_TRUE(console_->Execute("toggle save-default"));
    EXPECT_TRUE(view_->Checked(MainCheck::SaveDefault));
    EXPECT_FALSE(view_->Checked(MainCheck::DeleteMe));
    EXPECT_TRUE(console_->Execute("toggle delete-me"));
    EXPECT_TRUE(console_->Execute("toggle save-default"));  // unticking clears it too
    EXPECT_FALSE(view_->Checked(MainCheck::SaveDefault));
    EXPECT_FALSE(view_->Checked(MainCheck::DeleteMe));
    EXPECT_TRUE(console_->Execute("toggle silent"));
    EXPECT_FALSE(view_->Checked(MainCheck::SilentInstall));
    EXPECT_FALSE(console_->Execute("toggle everything"));
}

TEST_F(ConsoleTest, DisabledControlsRefuseTheirCommands) {
    MakeMain();
    Fill({"Office"});
    view_->SetConfigText("Office");
    for (auto control : {MainControl::DownloadRunButton, MainControl::LayoutButton,
                         MainControl::SaveDefaultCheck, MainControl::DeleteMeCheck}) {
        view_->SetEnabled(control, false);
    }
    EXPECT_FALSE(console_->Execute("download-run"));
    EXPECT_FALSE(console_->Execute("expand"));
    EXPECT_FALSE(console_->Execute("toggle save-default"));
    EXPECT_FALSE(console_->Execute("toggle delete-me"));
    EXPECT_FALSE(view_->Checked(MainCheck::SaveDefault));
    EXPECT_EQ(view_->WidthTwips(), 5145);
    EXPECT_FALSE(console_->Execute("update")) << "no update panel is shown";
    EXPECT_FALSE(Has(out_.text(), "+--"));
}

TEST_F(ConsoleTest, UnknownCommandsAndHelp) {
    MakeMain();
    EXPECT_FALSE(console_->Execute("frobnicate now"));
    EXPECT_TRUE(Has(err_.text(), "unknown command \"frobnicate\""));
    EXPECT_FALSE(console_->Execute("install Gimp"));
    // Junk is quoted back harmlessly: no control bytes, no endless line.
    const std::size_t before = err_.text().size();
    EXPECT_FALSE(console_->Execute("\x1b]0;owned\x07" + std::string(5000, 'x')));
    EXPECT_FALSE(console_->Execute("select \x01\x02"));
    const std::string notes = err_.text().substr(before);
    EXPECT_EQ(notes.find_first_of("\x1b\x07\x01\x02"), std::string::npos);
    EXPECT_TRUE(Has(notes, "unknown command \"?]0;owned?xxx"));
    EXPECT_TRUE(Has(notes, "no configuration set \"??\""));
    EXPECT_LT(notes.size(), 300U);
    EXPECT_TRUE(console_->Execute("help"));
    for (const char* word : {"select", "zip-password", "run-previous", "install", "close"})
        EXPECT_TRUE(Has(out_.text(), std::string("  ") + word));
    EXPECT_TRUE(console_->Execute("   # a comment"));
    EXPECT_TRUE(console_->Execute(""));
}

TEST_F(ConsoleTest, EndOfInputClosesTheWindowWhichUnloads) {
    MakeMain();
    ASSERT_TRUE(WriteFileAtomic(AppPath() + names::kUpdatesIni, "[TekmoTalvane]\n"));
    view_->Show();
    // The last line has no line break: it still counts.
    EXPECT_EQ(RunMain("user tech9\r\npassword s3cret\nexpand\nshow"), 0);
    const std::string text = out_.text();
    EXPECT_TRUE(Has(text, "Username: tech9  [Login]\n"));
    EXPECT_TRUE(Has(text, "Password: ******\n"));
    EXPECT_FALSE(Has(text, "s3cret"));
    EXPECT_FALSE(DoesFileExist(AppPath() + names::kUpdatesIni)) << "unload deletes the index";
}

TEST_F(ConsoleTest, UnattendedRunWithNothingPreselectedHandsTheWindowToTheUser) {
    MakeMain();
    console_->SetInputEnabled(false);
    console_->Pump();  // during the run nothing is read
    EXPECT_EQ(view_->Text(MainField::User), "");
    presenter_->ProcessCommands();  // no set chosen: the compact window is shown
    EXPECT_EQ(RunMain("user someone\nclose\n"), 0);
    EXPECT_EQ(view_->Text(MainField::User), "someone");
}

TEST_F(ConsoleTest, PumpWaitsForTheWindowLoopAndForWholeLines) {
    MakeMain();
    console_->Attach(nullptr, nullptr);  // as during start-up, before the window loop
    Fill({"Office", "Workshop"});
    input_.Send("select 2\n");
    console_->Pump();  // nothing is taken yet
    EXPECT_EQ(view_->ConfigText(), "");
    input_.Send("user tech");
    // The loop takes "select 2"; "user tech" waits for its line break or the end.
    EXPECT_EQ(RunMain(""), 0);
    EXPECT_EQ(view_->ConfigText(), "Workshop");
    EXPECT_EQ(view_->Text(MainField::User), "tech");
}

// Splash and status report while open, and only then.
TEST_F(ConsoleTest, SplashAndStatusReportLayoutProgressAndLabelsWhileOpen) {
    console_ = MakeFrontend();
    ui::SplashView& splash = console_->Splash();
    splash.Bar().SetValue(50);
    splash.Show();
    splash.Bar().SetMax(100);
    splash.Bar().SetValue(100);
    splash.Close();
    splash.Bar().SetValue(40);
    ui::StatusView& status = console_->Status();
    status.SetCaption("Please Wait...");
    status.SetLabel("Extracting Config...");
    status.Show();
    status.SetLabel("Copying Files...");
    status.Close();
    status.SetLabel("Cleaning Up...");
    EXPECT_EQ(err_.text(),
              "[splash] shown: window 4770 x 650 twips, bar 650 twips, no logo\n"
              "splash [####################] 100% (100/100)\n"
              "[splash] closed\n"
              "[status] shown: Please Wait... | Extracting Config...\n"
              "[status] Copying Files...\n"
              "[status] closed\n");
    EXPECT_TRUE(out_.text().empty());
}

class ConsoleDialogTest : public ConsoleTest {
  protected:
    std::string Setting(const std::string& key) {
        return ReadIniValue(AppINI(), names::kSettingsSection, key);
    }
    void MakeDialog(bool sameStream = false) {
        console_ = MakeFrontend(sameStream);
        SetEventPump(console_.get());
        dialogView_ = console_->CreateDefaultDialogView();
        dialog_ = std::make_unique<ui::DefaultDialogPresenter>(*console_, *dialogView_, session_, endpoints_);
        console_->Attach(nullptr, dialog_.get());
        dialogView_->Show();
    }
    int RunDialog(const std::string& lines) {
        input_.Send(lines);
        input_.CloseWriter();
        return console_->Run(nullptr, dialog_.get());
    }
    std::unique_ptr<ui::DefaultDialogView> dialogView_;
    std::unique_ptr<ui::DefaultDialogPresenter> dialog_;
};

TEST_F(ConsoleDialogTest, FolderAndSaveWriteBothSettings) {
    MakeDialog();
    dialogView_->AddConfig("Office");
    dialogView_->AddConfig("Field Team");
    EXPECT_EQ(RunDialog("auto 2\nfolder \\Tools\nsave\nfolder \\Never\n"), 0);
    EXPECT_EQ(Setting("DefaultConfig"), "Field Team");
    EXPECT_EQ(Setting("DefaultPath"), "\\Tools");
    EXPECT_TRUE(dialog_->Closed());
    const std::string text = out_.text();
    EXPECT_TRUE(Has(text, "=== Default Config ==="));
    EXPECT_TRUE(Has(text, "(*) Select Cloud Config to Automatically Download\n"));
    EXPECT_TRUE(Has(text, "      > 2. Field Team\n"));
    EXPECT_TRUE(Has(text, "(*) Extract to folder below:\n      Folder: \\Tools\n"));
}

TEST_F(ConsoleDialogTest, ImportAnswersTheFileDialogOnce) {
    MakeDialog();
    const std::string logo = tmp_.file("pictures/Logo.BMP");
    ASSERT_TRUE(MakeSureDirExists(tmp_.file("pictures")));
    ASSERT_TRUE(WriteFileAtomic(logo, "BM-not-checked-here"));
    EXPECT_EQ(RunDialog("import " + logo + "\nimport\nclose\n"), 0);
    EXPECT_TRUE(DoesFileExist(AppPath() + names::kLogoFile));
    const std::string err = err_.text();
    EXPECT_TRUE(Has(err, "[open file] Select a supported graphic to import. (Bitmaps (*.bmp)|*.bmp): " + logo));
    EXPECT_TRUE(Has(err, "*.bmp): cancelled"));
    EXPECT_TRUE(Has(out_.text(), "Custom Logo:  Found!"));
}

TEST_F(ConsoleDialogTest, ImportRefusesAMissingFileOrAFolderAndKeepsTheDialogOpen) {
    MakeDialog();
    const std::string missing = tmp_.file("pictures/Missing.bmp");
    ASSERT_TRUE(MakeSureDirExists(tmp_.file("pictures")));
    EXPECT_EQ(RunDialog("import " + missing + "\n" + tmp_.file("pictures") + "\n\nclose\n"), 0);
    const std::string out = out_.text();
    for (const std::string& refused : {missing, tmp_.file("pictures")}) {
        EXPECT_TRUE(Has(out, "(exclamation) ----\n| " + refused +
                                 "\n| File not found.\n| Please verify the correct file name was given.\n"));
    }
    EXPECT_TRUE(Has(err_.text(), "*.bmp): cancelled"));
    EXPECT_FALSE(DoesFileExist(AppPath() + names::kLogoFile));
}

TEST_F(ConsoleDialogTest, LinesTypedAheadWaitForTheRunningCommand) {
    MakeDialog(/*sameStream=*/true);
    EXPECT_EQ(RunDialog("test\nfolder \\Later\nsave\n"), 0);
    EXPECT_EQ(Setting("DefaultPath"), "\\Later");
    const std::string text = out_.text();
    const auto shown = text.find("[splash] shown"), closed = text.find("[splash] closed");
    EXPECT_LT(shown, closed);
    EXPECT_LT(closed, text.find("Folder: \\Later")) << "the folder line waited for the preview";
}

}  // namespace
}  // namespace talvane::testing
