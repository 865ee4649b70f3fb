// The console frontend: what the terminal shows and how typed commands reach the window logic.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"
#include "app/window_layout.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "frontends/console/console_frontend.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "support/file_util.h"

namespace talvane::testing {
namespace {

using namespace app;
using namespace frontends::console;

struct ConsoleEnded {
    int code;
};

// A FILE* whose whole content can be read back.
struct Capture {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::tmpfile(), &std::fclose};
    std::FILE* get() const { return file.get(); }
    std::string text() const {
        std::fflush(get());
        std::rewind(get());
        std::string out;
        for (int c; (c = std::fgetc(get())) != EOF;) out += static_cast<char>(c);
        return out;
    }
};

::testing::AssertionResult Has(const std::string& text, const std::string& needle) {
    if (text.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << needle << "\" not in:\n" << text;
}

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::pipe(input_), 0);
        const std::string exe = tmp_.file("prog/Talvane");
        WriteFile(exe, "#!/bin/sh\n");
        OverrideExecutablePath(exe);
        WriteStartBanner();
        session_ = Session{SettingsFilePath(), tmp_.file("drive/tekmo"), "", "", "", ""};
        // Closed loopback ports: nothing here may reach a server.
        endpoints_ = {"127.0.0.1:1", "127.0.0.1:1", "", "http://127.0.0.1:1/Subscribers/", ""};
        endpoints_.BusyRetrySeconds = 0;  // a closed port is not waited for
    }
    void TearDown() override {
        SetEnv("HOME", home_.c_str());
        SetEventPump(nullptr);
        CloseInput();
        ::close(input_[0]);
    }
    void CloseInput() {
        if (input_[1] >= 0) ::close(std::exchange(input_[1], -1));
    }
    void Send(const std::string& text) {
        ASSERT_EQ(::write(input_[1], text.data(), text.size()), ssize_t(text.size()));
    }

    std::unique_ptr<ConsoleFrontend> MakeFrontend(bool sameStream = false) {
        ConsoleOptions options;
        options.out = out_.get();
        options.err = sameStream ? out_.get() : err_.get();
        options.inputFd = input_[0];
        options.errIsTerminal = false;
        options.onEnd = [](int code) { throw ConsoleEnded{code}; };
        return std::make_unique<ConsoleFrontend>(options);
    }
    // A main window with a presenter that has not loaded (no network).
    void MakeMain() {
        console_ = MakeFrontend();
        view_ = console_->CreateMainView();
        presenter_ = std::make_unique<MainPresenter>(*console_, *view_, session_, endpoints_);
        console_->Attach(presenter_.get(), nullptr);
        for (const char* set : {"Office", "Field Team", "Workshop"}) view_->AddConfig(set);
        for (const char* zip : {"Tekmo_2.0.1.zip", "Tekmo_2.1.0.zip"})
            view_->AddPreviousVersion(zip);
    }
    // Sends the lines, ends the input and runs the window until it unloads.
    int RunMain(const std::string& lines) {
        Send(lines);
        CloseInput();
        try {
            console_->Run(presenter_.get(), nullptr);
        } catch (const ConsoleEnded& ended) {
            return ended.code;
        }
        ADD_FAILURE() << "the window loop returned without ending the process";
        return -1;
    }

    // The settings dialog fed with the lines until their end; `later` lines come 0.4 s after
    // the first, once the dialog waits for them.
    int RunDialog(const std::string& lines, bool sameStream = false,
                  const std::string& later = {}) {
        console_ = MakeFrontend(sameStream);
        SetEventPump(console_.get());
        dialogView_ = console_->CreateDefaultDialogView();
        dialog_ =
            std::make_unique<DefaultDialogPresenter>(*console_, *dialogView_, session_, endpoints_);
        console_->Attach(nullptr, dialog_.get());
        dialogView_->Show();
        Send(lines);
        std::thread typist([&] {
            if (!later.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(400));
            Send(later);
            CloseInput();
        });
        const int code = console_->Run(nullptr, dialog_.get());
        typist.join();
        return code;
    }

    TempDir tmp_;
    const std::string home_ = std::getenv("HOME") ? std::getenv("HOME") : "";
    int input_[2] = {-1, -1};
    Session session_;
    Endpoints endpoints_;
    Capture out_, err_;
    std::unique_ptr<ConsoleFrontend> console_;
    std::unique_ptr<MainView> view_;
    std::unique_ptr<MainPresenter> presenter_;
    std::unique_ptr<DefaultDialogView> dialogView_;
    std::unique_ptr<DefaultDialogPresenter> dialog_;
};

TEST(MessageBoxFormat, OneBlockWithTitleIconAndEveryLine) {
    const auto top = [](const std::string& head) {
        return head + std::string(60 - head.size(), '-') + "\n";
    };
    const std::tuple<std::string, std::string, MsgIcon, std::string> cases[] = {
        {"Test Login Success!\r\nConfig list has been refreshed!", "Talvane", MsgIcon::None,
         top("+-- Talvane ") + "| Test Login Success!\n| Config list has been refreshed!\n"},
        {"Oops, a problem.\n\n/x/Logo.BMP", "Talvane", MsgIcon::Exclamation,
         top("+-- Talvane (exclamation) ") + "| Oops, a problem.\n|\n| /x/Logo.BMP\n"},
        {"", "Download", MsgIcon::Critical, top("+-- Download (critical) ") + "|\n"},
    };
    for (const auto& [text, title, icon, lines] : cases)
        EXPECT_EQ(ConsoleFrontend::FormatMessageBox(text, title, icon),
                  lines + "+" + std::string(59, '-') + "\n");
}

// Every bar (console, window, test fake) follows these rules.
TEST(ProgressModelTest, RefusesSettingsOutsideTheRangeAndDrawsWithinTheSteps) {
    enum Op { Min, Max, Value };
    const struct {
        const char* what;
        std::vector<std::pair<Op, long>> ops;
        std::string taken;  // '+' for each setting taken, '-' for each refused
        long min, max, value;
        int drawn;  // in 1000 steps
    } cases[] = {
        {"value above max", {{Value, 40}, {Value, 101}}, "+-", 0, 100, 40, 400},
        {"value below min", {{Min, 10}, {Value, 5}}, "+-", 10, 100, 10, 0},
        {"min above max", {{Min, 101}}, "-", 0, 100, 0, 0},
        {"max below min", {{Min, 50}, {Max, 49}}, "+-", 50, 100, 50, 0},
        {"lower max pulls the value", {{Value, 90}, {Max, 60}}, "++", 0, 60, 60, 1000},
        {"higher min pulls the value", {{Value, 5}, {Min, 20}}, "++", 20, 100, 20, 0},
        {"empty range", {{Max, 0}, {Value, 0}}, "++", 0, 0, 0, 0},
        {"widest", {{Min, LONG_MIN}, {Max, LONG_MAX}}, "++", LONG_MIN, LONG_MAX, 0, 500},
    };
    for (const auto& c : cases) {
        ProgressModel bar;
        std::string taken;
        for (const auto& [op, v] : c.ops) {
            const bool ok = op == Min ? bar.SetMin(v) : op == Max ? bar.SetMax(v) : bar.SetValue(v);
            taken += ok ? '+' : '-';
        }
        EXPECT_EQ(taken, c.taken) << c.what;
        EXPECT_EQ(std::tuple(bar.Min(), bar.Max(), bar.Value(), bar.Position(1000)),
                  std::tuple(c.min, c.max, c.value, c.drawn))
            << c.what;
    }
}

TEST(ProgressModelTest, ABarIsDrawnOncePerStepNotOncePerValue) {
    ProgressModel bar;
    DrawnPosition drawn(1000);
    bar.SetMax(1'000'000);
    int draws = 0;
    for (long v = 0; v <= 1'000'000; v += 7) draws += bar.SetValue(v) && drawn.Next(bar);
    EXPECT_EQ(draws, 1000);
    drawn.Forget();  // a new widget shows the bar where it is
    EXPECT_EQ(drawn.Next(bar), std::optional<int>(999));
}

TEST(ConsoleHelpers, EntriesAreFoundByNameFirstThenByNumber) {
    const std::vector<std::string> items{"Office", "Field Team", "2", "Workshop"};
    const std::pair<const char*, int> cases[] = {
        {"FIELD TEAM", 1}, {"2", 2}, {"4", 3},      {"0", -1},
        {"5", -1},         {"", -1}, {"Field", -1}, {"99999999999999999999", -1}};
    for (const auto& [wanted, index] : cases) EXPECT_EQ(FindEntry(items, wanted), index) << wanted;
}

// Windows and notes show control characters escaped.
TEST(ConsoleProgress, PlainLinesAreThrottledTerminalLinesRewriteThemselves) {
    Capture out, err, both;
    ConsoleOutput plain(out.get(), err.get(), false), terminal(both.get(), both.get(), true);
    ProgressMark mark, terminalMark;
    ProgressModel bar, empty;
    bar.SetMax(1000);
    for (long v = 0; v <= 1000; ++v) bar.SetValue(v), plain.Progress(mark, "transfer", bar);
    empty.SetMax(0);
    plain.Progress(mark, "transfer", empty);  // an unusable range shows nothing
    const std::string lines = err.text();
    EXPECT_LT(std::count(lines.begin(), lines.end(), '\n'), 101)
        << "one line per percent is no throttling";
    EXPECT_TRUE(lines.ends_with("\ntransfer [####################] 100% (1000/1000)\n")) << lines;
    EXPECT_EQ(lines.find('\r'), std::string::npos);
    plain.Block("    1. Evil\x1b]0;owned\x07\x1b[2J\n    2. Office\n");
    EXPECT_EQ(out.text(), "    1. Evil\\x1b]0;owned\\x07\\x1b[2J\n    2. Office\n");

    bar.Reset();
    bar.SetValue(20);
    terminal.Progress(terminalMark, "splash", bar);
    terminal.Note("[status] Extracting \x1b[31mConfig...");
    EXPECT_EQ(both.text(),
              "\rsplash [####----------------]  20% (20/100)\x1b[K\n"
              "[status] Extracting \\x1b[31mConfig...\n");
}

// Typed commands set the controls; both layouts show them, the passwords masked.
TEST_F(ConsoleTest, CommandsSetTheControlsAsTypedOrAreRefused) {
    MakeMain();
    for (const char* typed : {"select   field team  ", "version 1", "password Cl0ud-tech1",
                              "zip-password kit 7749 blue", "toggle delete-me",
                              "toggle save-default", "   # a comment"})
        EXPECT_TRUE(console_->Execute(typed)) << typed;
    for (const char* refused :
         {"select Garage", "version 3", "toggle everything", "update", "install Gimp"})
        EXPECT_FALSE(console_->Execute(refused)) << refused;
    // Ticking Save Config As Default clears Delete Me.
    EXPECT_TRUE(view_->Checked(MainCheck::SaveDefault));
    EXPECT_FALSE(view_->Checked(MainCheck::DeleteMe));
    view_->Show();
    console_->RenderWindow();
    EXPECT_TRUE(Has(out_.text(), "=== Download and Run tekmo Now? === window 5145 x 2220 twips\n"));
    EXPECT_TRUE(Has(out_.text(), "    1. Office\n  > 2. Field Team\n    3. Workshop\n"));
    EXPECT_FALSE(Has(out_.text(), "Password"));
    presenter_->Expand();
    console_->RenderWindow();
    const std::string text = out_.text();
    EXPECT_TRUE(Has(text, "  Password: ***********\n  Encryption Password: *************\n"));
    EXPECT_FALSE(Has(text, "Cl0ud") || Has(text, "7749"));
    EXPECT_TRUE(Has(text, "  > 1. Tekmo_2.0.1.zip\n    2. Tekmo_2.1.0.zip\n"));
    for (const char* app : {"Pellam", "Harlo", "Quorra", "Sorvik", "Umbrin"})
        EXPECT_TRUE(Has(text, std::string(app) + " [>]"));

    // Disabled controls refuse their commands, without a message box.
    for (auto control :
         {MainControl::DownloadRunButton, MainControl::LayoutButton, MainControl::DeleteMeCheck})
        view_->SetEnabled(control, false);
    for (const char* command : {"download-run", "expand", "toggle delete-me"})
        EXPECT_FALSE(console_->Execute(command)) << command;
    EXPECT_EQ(view_->WidthTwips(), app::kMainFullSize.width);
    EXPECT_FALSE(Has(out_.text(), "+--"));
}

// The command word ends at the first blank or tab; the rest is its argument as typed, quotes too.
TEST_F(ConsoleTest, ArgumentsFollowTheFirstBlankOrTab) {
    MakeMain();
    const std::pair<const char*, const char*> cases[] = {
        {"USER tech one", "tech one"}, {" \tuser\ttech", "tech"},   {"user  two ", " two "},
        {"user\t\tx\t", "\tx\t"},      {"user \"a b\"", "\"a b\""}, {"user", ""},
    };
    for (const auto& [typed, user] : cases) {
        SCOPED_TRACE(typed);
        EXPECT_TRUE(console_->Execute(typed));
        EXPECT_EQ(view_->Text(MainField::User), user);
    }
}

TEST_F(ConsoleTest, JunkIsQuotedBackWithoutControlBytesOrEndlessLines) {
    MakeMain();
    EXPECT_FALSE(console_->Execute("\x1b]0;owned\x07" + std::string(5000, 'x')));
    EXPECT_FALSE(console_->Execute("select \x01\x02"));
    const std::string notes = err_.text();
    EXPECT_EQ(notes.find_first_of("\x1b\x07\x01\x02"), std::string::npos);
    EXPECT_TRUE(Has(notes, "unknown command \"?]0;owned?xxx"));
    EXPECT_TRUE(Has(notes, "no configuration set \"??\""));
    EXPECT_LT(notes.size(), 300U);
}

TEST_F(ConsoleTest, LinesWaitForTheWindowLoopAndEndOfInputUnloads) {
    MakeMain();
    console_->Attach(nullptr, nullptr);  // as during start-up, before the window loop
    Send("select 2\n");
    console_->Pump();  // nothing is taken yet
    EXPECT_EQ(view_->ConfigText(), "");
    // The last line has no line break (a Windows line end cut short): it still counts.
    EXPECT_EQ(RunMain("expand\r\nuser tech9\r"), 0);
    EXPECT_EQ(view_->ConfigText(), "Field Team");
    EXPECT_EQ(view_->Text(MainField::User), "tech9");
}

TEST_F(ConsoleTest, UnattendedRunWithNothingPreselectedHandsTheWindowToTheUser) {
    MakeMain();
    console_->SetInputEnabled(false);
    Send("user early\n");
    console_->Pump();  // during the run nothing is read
    EXPECT_EQ(view_->Text(MainField::User), "");
    presenter_->RunUnattended();                     // no set chosen: the compact window is shown
    EXPECT_EQ(RunMain("user someone\nclose\n"), 1);  // closed without starting the tool
    EXPECT_EQ(view_->Text(MainField::User), "someone");
}

// One whose window stays hidden never reads what was typed, not even at its end.
TEST_F(ConsoleTest, UnattendedRunWithItsWindowHiddenReadsNothing) {
    MakeMain();
    console_->SetInputEnabled(false);
    RunMain("user someone\nclose\n");
    EXPECT_EQ(view_->Text(MainField::User), "");
}

TEST_F(ConsoleTest, SplashAndStatusReportOnlyWhileOpen) {
    console_ = MakeFrontend();
    SplashView& splash = console_->Splash();
    splash.Bar().SetValue(50);
    splash.Show();
    splash.Bar().SetMax(100);
    splash.Bar().SetValue(100);
    console_->SetActivity("Checking signature");  // the splash's line while it is open
    splash.Close();
    splash.Bar().SetValue(40);
    console_->SetActivity("Starting Tekmo");
    StatusView& status = console_->Status();
    status.SetCaption("Please Wait...");
    status.SetLabel("Extracting Config...");
    status.Show();
    status.Close();
    status.SetLabel("Cleaning Up...");
    EXPECT_EQ(err_.text(),
              "[splash] shown: window 4770 x 650 twips, bar 650 twips, no logo\n"
              "splash [####################] 100% (100/100)\n"
              "[splash] line: Checking signature\n[splash] closed\n[step] Starting Tekmo\n"
              "[status] shown: Please Wait... | Extracting Config...\n[status] closed\n");
}

TEST_F(ConsoleTest, DialogImportRefusesAMissingFileOrAFolderAndKeepsTheDialogOpen) {
    const std::string missing = tmp_.file("pictures/Missing.bmp");
    ASSERT_TRUE(MakeSureDirExists(tmp_.file("pictures")));
    SetEnv("HOME", tmp_.path().c_str());  // "~/" is the home folder
    EXPECT_EQ(RunDialog("import ~/pictures/Missing.bmp\n" + tmp_.file("pictures") + "\n\nclose\n"),
              0);
    for (const std::string& refused : {missing, tmp_.file("pictures")}) {
        EXPECT_TRUE(Has(out_.text(), "(exclamation) ----\n| " + refused +
                                         "\n| File not found.\n| Please verify the correct file "
                                         "name was given.\n"));
    }
    EXPECT_TRUE(Has(err_.text(), "*.bmp): cancelled"));
}

// Answers typed once the dialog asked again are read then, not only those typed ahead.
TEST_F(ConsoleTest, DialogImportReadsAnswersTypedLater) {
    ASSERT_TRUE(MakeSureDirExists(tmp_.file("pictures")));
    EXPECT_EQ(RunDialog("import " + tmp_.file("Missing.bmp") + "\n", false,
                        tmp_.file("pictures") + "\n\nclose\n"),
              0);
    EXPECT_TRUE(Has(out_.text(), "| " + tmp_.file("pictures") + "\n| File not found."));
}

// Without a home folder "~/" is taken as typed.
TEST_F(ConsoleTest, DialogImportWithoutAHomeFolder) {
    SetEnv("HOME", nullptr);
    EXPECT_EQ(RunDialog("import ~/Missing.bmp\n\nclose\n"), 0);
    EXPECT_TRUE(Has(out_.text(), "| ~/Missing.bmp\n| File not found."));
}

TEST_F(ConsoleTest, DialogLinesTypedAheadWaitForTheRunningCommand) {
    EXPECT_EQ(RunDialog("test\nfolder \\Later\nsave\n", /*sameStream=*/true), 0);
    EXPECT_EQ(ReadIniValue(SettingsFilePath(), names::kSettingsSection, "DefaultPath"), "\\Later");
    const std::string text = out_.text();
    const auto shown = text.find("[splash] shown"), closed = text.find("[splash] closed");
    EXPECT_LT(shown, closed);
    EXPECT_LT(closed, text.find("Folder: \\Later")) << "the folder line waited for the preview";
}

}  // namespace
}  // namespace talvane::testing
