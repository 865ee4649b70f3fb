// Without servers: the start-up choices, the splash logo size and the main window's own logic.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/busy_retry.h"
#include "app/main_presenter.h"
#include "app/messages.h"
#include "app/splash_logic.h"
#include "app/startup.h"
#include "app/transfer_progress.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "support/log_capture.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

using app::MainCheck;
using app::MainField;

// No servers: every host is a closed loopback port, the update check is off.
class PresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(tmp_.file("prog/Talvane"), "#!/bin/sh\n", 0755));
        OverrideExecutablePath(tmp_.file("prog/Talvane"));
        WriteStartBanner();
        session_ = Session{SettingsFilePath(), tmp_.file("drive/tekmo"), "", "", "", ""};
        endpoints_ = {"127.0.0.1:1", "127.0.0.1:1", "", "http://127.0.0.1:1/Subscribers/", ""};
        presenter_ = std::make_unique<app::MainPresenter>(frontend_, view_, session_, endpoints_);
    }
    void FillCombo(const std::vector<std::string>& items) {
        view_.ClearConfigs();
        for (const auto& item : items) view_.AddConfig(item);
    }
    std::string Setting(const std::string& key) {
        return ReadIniValue(SettingsFilePath(), names::kSettingsSection, key);
    }

    TempDir tmp_;
    LogCapture log_;
    FakeFrontend frontend_;
    FakeMainView view_;
    Session session_;
    Endpoints endpoints_;
    std::unique_ptr<app::MainPresenter> presenter_;
};

TEST_F(PresenterTest, LoadWithUnreachableRepositoryLeavesListsEmptyAndClosesSplash) {
    frontend_.splash.Show();
    presenter_->Load();
    EXPECT_TRUE(view_.Configs().empty());
    EXPECT_TRUE(view_.PreviousVersions().empty());
    EXPECT_EQ(frontend_.splash.bar.values, (std::vector<long>{20, 80, 100}));
    EXPECT_FALSE(frontend_.splash.IsOpen());
    EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(PresenterTest, StoredDefaultSelectsMatchingEntryOnly) {
    // "%prompt%" is never preselected by the main window, even when listed.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"FIELD TEAM", "Field Team"}, {"Workshop", ""}, {"%prompt%", ""}, {"%PROMPT%", ""}, {"", ""}};
    // clang-format on
    for (const auto& [stored, expected] : cases) {
        FillCombo({"Office", "Field Team", "%prompt%"});
        WriteIniValue(SettingsFilePath(), names::kSettingsSection, "DefaultConfig", stored);
        presenter_->SelectDefaultConfig();
        EXPECT_EQ(view_.ConfigText(), expected) << stored;
    }
}

TEST_F(PresenterTest, SaveSettingsScramblesBothPasswordsAndWritesDefaultOnlyWhenTicked) {
    FillCombo({"Office"});
    view_.SetConfigText("Office");
    view_.SetText(MainField::User, "tech1");
    view_.SetText(MainField::Password, "pass word");
    view_.SetText(MainField::ZipPassword, "");

    presenter_->SaveSettings();
    EXPECT_EQ(Setting("DefaultConfig"), "");
    EXPECT_EQ(Setting("UserName"), "tech1");
    EXPECT_EQ(UnscrambleString(Setting("Password")), "pass word");
    // An empty password is stored too, as scrambled text that reads back empty.
    EXPECT_EQ(Setting("ZipPassword"), ScrambleString(""));
    EXPECT_TRUE(frontend_.messages.empty());  // written normally: no message

    view_.SetChecked(MainCheck::SaveDefault, true);
    presenter_->SaveSettings();
    EXPECT_EQ(Setting("DefaultConfig"), "Office");
}

TEST_F(PresenterTest, SettingsThatCannotBeWrittenAreReportedBeforeQuitting) {
    // Something that is not a writable file stands where the settings belong.
    ASSERT_TRUE(MakeSureDirExists(SettingsFilePath()));
    view_.SetText(MainField::User, "someone");
    presenter_->OnSaveQuit();
    EXPECT_EQ(frontend_.endedWith, 0);
    ASSERT_EQ(frontend_.messages.size(), 1U);
    EXPECT_EQ(frontend_.messages[0].text.rfind(
                  "The settings could not be saved to " + SettingsFilePath(), 0),
              0U);
    EXPECT_EQ(frontend_.messages[0].icon, app::MsgIcon::Exclamation);
    EXPECT_TRUE(log_.contains("settings could not be written"));
}

// One character too many: a message, nothing written, the window stays; the limit itself is kept.
TEST_F(PresenterTest, TypedValuesTooLongForTheSettingsAreRefusedBeforeAnythingIsWritten) {
    const std::tuple<MainField, const char*, std::size_t, std::string Session::*> cases[] = {
        {MainField::User, "user name", kMaxNameLength, &Session::UserName},
        {MainField::Password, "password", kMaxSecretLength, &Session::Password},
        {MainField::ZipPassword, "zip password", kMaxSecretLength, &Session::ZipPassword}};
    for (const auto& [field, name, limit, stored] : cases) {
        SCOPED_TRACE(name);
        view_.SetText(field, std::string(limit + 1, 'v'));
        frontend_.messages.clear();
        presenter_->OnSaveQuit();
        EXPECT_FALSE(frontend_.endedWith.has_value() || Exists(SettingsFilePath()));
        EXPECT_EQ(frontend_.MessageTexts(),
                  std::vector<std::string>{std::string("The ") + name + " is longer than " +
                                           std::to_string(limit) + " characters." +
                                           app::kLineBreak + "Nothing was saved."});
        view_.SetText(field, std::string(limit, 'v'));
        EXPECT_TRUE(presenter_->SaveSettings());
        EXPECT_EQ(session_.*stored, view_.Text(field));  // the session follows what is stored
        std::remove(SettingsFilePath().c_str());
    }
}

// The second line names the file and its host (never the credentials) and says the program ends.
TEST_F(PresenterTest, DownloadAbortShowsReasonUnderDownloadTitle) {
    app::ReportDownloadAborted(frontend_, {12007, "Resource Not Found.",
                                           "http://u:secret@h:8080/a/VelmoraUpdates.zip?x=/y"});
    app::ReportDownloadAborted(frontend_, {1, "", "ftp://h/"});
    const std::string ends = " could not be downloaded; Talvane ends now.", br = app::kLineBreak;
    EXPECT_EQ(frontend_.MessageTexts(),
              (std::vector<std::string>{"Download aborted. Resource Not Found." + br +
                                            "VelmoraUpdates.zip from h:8080" + ends,
                                        "Download aborted." + br + "the file from h" + ends}));
    EXPECT_EQ(frontend_.messages[0].title, "Download");
    EXPECT_EQ(frontend_.messages[0].icon, app::MsgIcon::Critical);
}

TEST_F(PresenterTest, EmptyConfigChoiceStopsBothRunButtonsWithTheirMessages) {
    presenter_->OnDownloadRun();
    presenter_->OnRunPrevious();
    FillCombo({"Office"});
    view_.SetConfigText("Office");
    presenter_->OnRunPrevious();
    EXPECT_EQ(frontend_.MessageTexts(),
              (std::vector<std::string>{"You must select a config first!",
                                        "You must select a config first!",
                                        "You must select a previous version first!"}));
    EXPECT_EQ(frontend_.messages.back().title, "Talvane");
    EXPECT_EQ(view_.status, "You must select a previous version first!");  // the box's outcome
    EXPECT_FALSE(Exists(session_.ExtractFolder));
}

// The bar and the line come from the same figures: whenever a frame shows, the line's amount
// is the bar's; frames come a few times a second, but a transfer's first and last always show.
TEST(TransferProgress, LineAndBarAgreeAndFramesAreSpaced) {
    const long MiB = 1 << 20, of40 = 40 * MiB;
    const std::tuple<const char*, long, long, int, const char*> steps[] = {
        {"Tekmo.zip", 0, of40, 0, "Downloading Tekmo.zip - 0.0 of 40.0 MiB, 0.0 MiB/s"},
        {"Tekmo.zip", 4 * MiB, of40, 199, nullptr},  // nullptr: no frame
        {"Tekmo.zip", 8 * MiB, of40, 200, "Downloading Tekmo.zip - 8.0 of 40.0 MiB, 40.0 MiB/s"},
        {"Tekmo.zip", of40, of40, 201, "Downloading Tekmo.zip - 40.0 of 40.0 MiB, 199.0 MiB/s"},
        {"Tekmo.zip.minisig", 0, 0, 202, "Checking signature: fetching Tekmo.zip.minisig"},
        // Resumed at 30 MiB: the rate counts what moved in this run; no size known, no bar.
        {"setup.exe", 30 * MiB, 0, 1000, "Downloading setup.exe - 30.0 MiB, 0.0 MiB/s"},
        {"setup.exe", 31 * MiB, 0, 1500, "Downloading setup.exe - 31.0 MiB, 2.0 MiB/s"},
        // Under a mebibyte, kibibytes; a mebibyte exactly is counted in mebibytes.
        {"set.7z", 0, 575, 1600, "Downloading set.7z - 0.0 of 0.6 KiB, 0.0 MiB/s"},
        {"set.7z", 575, 575, 1601, "Downloading set.7z - 0.6 of 0.6 KiB, 0.5 MiB/s"},
        {"one.bin", 0, MiB, 1700, "Downloading one.bin - 0.0 of 1.0 MiB, 0.0 MiB/s"},
        {"part.bin", MiB - 1, 0, 1800, "Downloading part.bin - 1024.0 KiB, 0.0 MiB/s"},
    };
    app::TransferProgress progress;
    const auto start = app::TransferProgress::Clock::now();
    for (const auto& [file, current, total, ms, line] : steps) {
        const auto frame =
            progress.Next(file, current, total, start + std::chrono::milliseconds(ms));
        ASSERT_EQ(frame.has_value(), line != nullptr) << ms;
        if (!frame) continue;
        EXPECT_EQ(std::tuple(frame->line, frame->sized, frame->barValue, frame->barMax),
                  std::tuple(std::string(line), total > 0, total > 0 ? current : 0, total));
    }
}

// Sets (or, with nullptr, clears) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        testing::SetEnv(name, value);
    }
    ~ScopedEnv() { testing::SetEnv(name_, old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Busy servers are waited for with doubling, randomised waits up to the deadline; refusals that
// will not change (530, a 5xx, a name that does not resolve) end at the first attempt.
TEST(BusyRetry, WaitsDoubleWithJitterUntilTheDeadlineAndNeverForAFinalRefusal) {
    const struct {
        int code, reply;  // a server's refusal carries its reply; 0: no answer at all
        double random;
        long deadline;
        std::vector<long> waits;
    } cases[] = {
        {12003, 421, 0.0, 10, {500, 1000, 2000, 4000}},  // a fifth wait (8 s) would end past 10 s
        {12003,
         421,
         0.75,
         120,
         {875, 1750, 3500, 7000, 14000, 26250, 26250, 26250}},  // 30 s at most
        {12029, 0, 0.5, 3, {750, 1500}},                        // the connection refused
        {12002, 0, 0.0, 1, {500}},                              // no greeting in time
        {12003, 530, 0.0, 120, {}},
        {12003, 550, 0.0, 120, {}},
        {12007, 0, 0.0, 120, {}},  // a name that does not resolve
        {12003, 421, 0.0, 0, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.reply));
        const Error failure{c.code, "", c.reply ? Cause::ServerRefused : Cause::Unreachable,
                            c.reply};
        testing::FakeClock clock;
        std::vector<long> waits;
        int attempts = 0;
        app::BusyRetry retry(std::chrono::seconds(c.deadline), clock, [&] { return c.random; });
        EXPECT_FALSE(retry.Run([&] { return ++attempts, false; }, [&] { return failure; },
                               [&](int next, std::chrono::milliseconds wait) {
                                   EXPECT_EQ(next, attempts + 1);
                                   waits.push_back(static_cast<long>(wait.count()));
                               }));
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(attempts, static_cast<int>(c.waits.size()) + 1);
        EXPECT_LE(clock.Elapsed(), std::chrono::seconds(c.deadline));
    }
}

TEST(CommandLine, JoinedWithSingleBlanksAndChoosesTheStartWindow) {
    EXPECT_EQ(JoinCommandLine({}), "");
    EXPECT_EQ(JoinCommandLine({"SFX=1", "two words"}), "SFX=1 two words");
    EXPECT_FALSE(IsSplashDemo(" -splash"));
    struct Case {
        const char* commandLine;
        bool credentials;
        StartWindow expected;
    };
    // clang-format off
    const Case cases[] = {
        {"-splash", false, StartWindow::SplashDemo}, {"-SPLASH", true, StartWindow::MainCompact},
        {"-splash now", true, StartWindow::MainCompact}, {"", false, StartWindow::MainExpanded},
        {"/SetDefault", true, StartWindow::DefaultConfig},
        {"/setdefault", false, StartWindow::MainExpanded},
        {"/setdefault x", true, StartWindow::MainCompact},
        {"run sFx", true, StartWindow::MainUnattended}, {"sfx", false, StartWindow::MainExpanded},
        {"/setdefault sfx", true, StartWindow::MainUnattended}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(StartWindowName(ChooseStartWindow(c.commandLine, c.credentials)),
                  std::string(StartWindowName(c.expected)))
            << "'" << c.commandLine << "' credentials=" << c.credentials;
}

TEST(ExtractFolder, FromSystemDriveDefaultPathOrDesktop) {
    ScopedEnv home("HOME", "/home/tech");
    // SYSTEMDRIVE (nullptr: unset), default path, result
    // clang-format off
    const char* cases[][3] = {
        {"/srv/drive/", "\\Tools\\", "/srv/drive/Tools/tekmo"},
        {"/srv/drive", "\\Tools\\Sub", "/srv/drive/Tools/Sub/tekmo"},
        {"/srv/drive", "Tools", "/srv/drive/Tools/tekmo"}, {"/", "", "/tekmo"},
        {nullptr, "", "/home/tech/tekmo"}, {"", "\\Tools", "/home/tech/Tools/tekmo"}};
    // clang-format on
    for (const auto& c : cases) {
        ScopedEnv drive("SYSTEMDRIVE", c[0]);
        EXPECT_EQ(ResolveExtractFolder(c[1]), c[2]) << (c[0] ? c[0] : "unset") << " " << c[1];
    }
#ifdef _WIN32
    // The shell names the all-users desktop; no variable is needed for it.
    ScopedEnv noPublic("PUBLIC", nullptr);
    const std::string desktop = ResolveExtractFolder("%Desktop%");
    EXPECT_TRUE(desktop.size() > 16 && desktop[1] == ':' && desktop.ends_with("/Desktop/tekmo"))
        << desktop;
#else
    // Each later variable takes precedence over the earlier fallback.
    ScopedEnv noPublic("PUBLIC", nullptr), noXdg("XDG_DESKTOP_DIR", nullptr);
    EXPECT_EQ(ResolveExtractFolder("%desktop%"), "/home/tech/Desktop/tekmo");
    ScopedEnv xdg("XDG_DESKTOP_DIR", "/home/tech/Schreibtisch/");
    EXPECT_EQ(ResolveExtractFolder("%DESKTOP%"), "/home/tech/Schreibtisch/tekmo");
    ScopedEnv pub("PUBLIC", "/srv/public");
    EXPECT_EQ(ResolveExtractFolder("%Desktop%"), "/srv/public/Desktop/tekmo");
#endif
}

TEST(BitmapHeader, ReadsSizeOrRefuses) {
    struct Case {
        const char* name;
        std::string bytes;
        int width, height;  // 0, 0: refused
    };
    // clang-format off
    const Case cases[] = {
        {"InfoHeader", Bitmap(40, 300, 100), 300, 100},
        {"TopDownRows", Bitmap(40, 300, -100), 300, 100},
        {"CoreHeader", Bitmap(12, 64, 32), 64, 32}, {"V5Header", Bitmap(124, 17, 5), 17, 5},
        {"HeaderOnly", Bitmap(40, 8, 8, false), 8, 8},
        {"NotBM", "PK\x03\x04 this is a zip, not a picture........", 0, 0},
        {"PlainText", "Talvane logo goes here\n", 0, 0}, {"Empty", "", 0, 0},
        {"Truncated", Bitmap(40, 300, 100).substr(0, 20), 0, 0},
        {"ZeroWidth", Bitmap(40, 0, 100), 0, 0}, {"NegativeWidth", Bitmap(40, -5, 100), 0, 0},
        {"LowestHeight", Bitmap(40, 10, INT32_MIN, false), 0, 0},
        {"Huge", Bitmap(40, 1 << 30, 1 << 30, false), 0, 0},
        {"UnknownInfoSize", Bitmap(20, 10, 10), 0, 0},
        {"BadPlanes", Bitmap(40, 10, 10, true, 3), 0, 0},
        {"BadDepth", Bitmap(40, 10, 10, true, 1, 7), 0, 0}};
    // clang-format on
    testing::TempDir dir;
    for (const auto& c : cases) {
        testing::WriteFile(dir.file("logo.bmp"), c.bytes);
        int w = -1, h = -1;
        EXPECT_EQ(ReadBitmapSize(dir.file("logo.bmp"), w, h), c.width != 0) << c.name;
        EXPECT_EQ(w, c.width) << c.name;
        EXPECT_EQ(h, c.height) << c.name;
    }
    int w = 1, h = 1;
    EXPECT_FALSE(ReadBitmapSize(dir.file("absent.bmp"), w, h));
}

// A logo above the bar, or the bar alone when the file is missing or no picture.
TEST(SplashLayout, FollowsTheLogoOrShowsTheStrip) {
    testing::TempDir dir;
    for (const auto& [bytes, shown, height] :
         {std::tuple{Bitmap(40, 300, 100), true, 1875}, {std::string("BM notes"), false, 650}}) {
        testing::WriteFile(dir.file("logo.bmp"), bytes);
        const SplashLayout layout = ComputeSplashLayout(dir.file("logo.bmp"));
        EXPECT_EQ(layout.logoShown, shown);
        EXPECT_EQ(layout.heightTwips, height);
    }
    EXPECT_FALSE(ComputeSplashLayout(dir.file("absent.bmp")).logoShown);
}

}  // namespace
}  // namespace talvane::testing
