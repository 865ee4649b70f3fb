#include "startup/startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "common/app_paths.h"
#include "common/files.h"
#include "startup/endpoints.h"
#include "startup/settings.h"
#include "support/temp_dir.h"
#include "talvane/version.h"

namespace talvane {
namespace {

using testing::TempDir;

// Sets or clears an environment variable for one test.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(CommandLine, JoinedWithSingleBlanks) {
    EXPECT_EQ(JoinCommandLine({}), "");
    EXPECT_EQ(JoinCommandLine({"/SetDefault"}), "/SetDefault");
    EXPECT_EQ(JoinCommandLine({"SFX=1", "two words"}), "SFX=1 two words");
}

struct WindowCase {
    const char* commandLine;
    bool credentials;
    StartWindow expected;
};

class StartWindowChoice : public ::testing::TestWithParam<WindowCase> {};

TEST_P(StartWindowChoice, FollowsTheCommandLine) {
    const auto& c = GetParam();
    EXPECT_EQ(StartWindowName(ChooseStartWindow(c.commandLine, c.credentials)),
              std::string(StartWindowName(c.expected)))
        << "'" << c.commandLine << "' credentials=" << c.credentials;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartWindowChoice,
    ::testing::Values(WindowCase{"-splash", true, StartWindow::SplashDemo},
                      WindowCase{"-splash", false, StartWindow::SplashDemo},
                      WindowCase{"-SPLASH", true, StartWindow::MainCompact},
                      WindowCase{"-splash now", true, StartWindow::MainCompact},
                      WindowCase{"", true, StartWindow::MainCompact},
                      WindowCase{"", false, StartWindow::MainExpanded},
                      WindowCase{"/SetDefault", true, StartWindow::DefaultConfig},
                      WindowCase{"/setdefault", false, StartWindow::MainExpanded},
                      WindowCase{"/setdefault x", true, StartWindow::MainCompact},
                      WindowCase{"SFX=1", true, StartWindow::MainUnattended},
                      WindowCase{"run sFx", true, StartWindow::MainUnattended},
                      WindowCase{"sfx", false, StartWindow::MainExpanded},
                      WindowCase{"/setdefault sfx", true, StartWindow::MainUnattended},
                      WindowCase{"anything", true, StartWindow::MainCompact}));

TEST(StartWindowChoice, SplashDemoIsExactAndCaseSensitive) {
    EXPECT_TRUE(IsSplashDemo("-splash"));
    EXPECT_FALSE(IsSplashDemo("-Splash"));
    EXPECT_FALSE(IsSplashDemo(" -splash"));
}

struct FolderCase {
    const char* systemDrive;  // nullptr: unset
    const char* defaultPath;
    const char* expected;  // "$HOME" stands for the home folder
};

class ExtractFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ExtractFolder, FromSystemDriveAndDefaultPath) {
    const auto& c = GetParam();
    ScopedEnv home("HOME", "/home/tech");
    ScopedEnv drive("SYSTEMDRIVE", c.systemDrive);
    EXPECT_EQ(ResolveExtractFolder(c.defaultPath), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractFolder,
    ::testing::Values(FolderCase{"/srv/drive", "\\Tools", "/srv/drive/Tools/tekmo"},
                      FolderCase{"/srv/drive", "", "/srv/drive/tekmo"},
                      FolderCase{"/srv/drive/", "\\Tools\\", "/srv/drive/Tools/tekmo"},
                      FolderCase{"/srv/drive", "\\Tools\\Sub", "/srv/drive/Tools/Sub/tekmo"},
                      FolderCase{"/srv/drive", "/Tools", "/srv/drive/Tools/tekmo"},
                      FolderCase{"/srv/drive", "Tools", "/srv/drive/Tools/tekmo"},
                      FolderCase{"/", "", "/tekmo"},
                      FolderCase{nullptr, "\\Tools", "/home/tech/Tools/tekmo"},
                      FolderCase{nullptr, "", "/home/tech/tekmo"},
                      FolderCase{"", "\\Tools", "/home/tech/Tools/tekmo"}));

TEST(ExtractFolder, DesktopInAnyCase) {
    ScopedEnv home("HOME", "/home/tech");
    {
        ScopedEnv pub("PUBLIC", "/srv/public");
        EXPECT_EQ(ResolveExtractFolder("%Desktop%"), "/srv/public/Desktop/tekmo");
        EXPECT_EQ(CommonDesktopFolder(), "/srv/public/Desktop");
    }
    ScopedEnv pub("PUBLIC", nullptr);
    {
        ScopedEnv xdg("XDG_DESKTOP_DIR", "/home/tech/Schreibtisch/");
        EXPECT_EQ(ResolveExtractFolder("%DESKTOP%"), "/home/tech/Schreibtisch/tekmo");
    }
    ScopedEnv xdg("XDG_DESKTOP_DIR", nullptr);
    EXPECT_EQ(ResolveExtractFolder("%desktop%"), "/home/tech/Desktop/tekmo");
}

class AppFolderTest : public ::testing::Test {
  protected:
    void SetUp() override { OverrideExecutablePath(dir_.file("Talvane")); }
    void TearDown() override { OverrideExecutablePath(""); }
    TempDir dir_;
};

TEST_F(AppFolderTest, OldExecutableIsDeletedOnce) {
    ASSERT_TRUE(WriteFileAtomic(dir_.file("Talvane_old"), "old program", 0755));
    ASSERT_TRUE(WriteFileAtomic(dir_.file("Talvane"), "current program", 0755));
    EXPECT_TRUE(CleanUpOldExecutable());
    EXPECT_FALSE(DoesFileExist(dir_.file("Talvane_old")));
    EXPECT_TRUE(DoesFileExist(dir_.file("Talvane")));
    EXPECT_FALSE(CleanUpOldExecutable());
}

TEST_F(AppFolderTest, EndpointsDefaultAndOverrides) {
    const std::string ini = dir_.file("Talvane.ini");
    Endpoints e = LoadEndpoints(ini);  // no file: compiled-in values
    EXPECT_EQ(e.RepositoryHost, version::kDefaultRepositoryHost);
    EXPECT_EQ(e.RedistHost, version::kDefaultRedistHost);
    EXPECT_EQ(e.UpdatesURL, version::kDefaultUpdatesUrl);
    EXPECT_EQ(e.SubscriberURL, version::kDefaultSubscriberUrl);
    EXPECT_EQ(e.SevenZipMirrorURL, version::kDefaultSevenZipMirrorUrl);

    ASSERT_TRUE(WriteIniValue(ini, "Endpoints", "RepositoryHost", "127.0.0.1:2121"));
    ASSERT_TRUE(
        WriteIniValue(ini, "endpoints", "SevenZipMirrorURL", "http://127.0.0.1:8080/7z.zip"));
    ASSERT_TRUE(WriteIniValue(ini, "Endpoints", "RedistHost", ""));
    e = LoadEndpoints(ini);
    EXPECT_EQ(e.RepositoryHost, "127.0.0.1:2121");
    EXPECT_EQ(e.RedistHost, version::kDefaultRedistHost);  // empty keeps the default
    EXPECT_EQ(e.SevenZipMirrorURL, "http://127.0.0.1:8080/7z.zip");

    ASSERT_TRUE(WriteIniValue(ini, "Endpoints", "SevenZipMirrorURL", ""));
    EXPECT_EQ(LoadEndpoints(ini).SevenZipMirrorURL, "");  // present but empty: no mirror
    EXPECT_EQ(LoadEndpoints(ini).UpdatesURL, version::kDefaultUpdatesUrl);
    ASSERT_TRUE(WriteIniValue(ini, "Endpoints", "UpdatesURL", ""));
    EXPECT_EQ(LoadEndpoints(ini).UpdatesURL, "");  // present but empty: no update check

    InitAppSettings(true, true);  // AppINI is the file beside the program
    EXPECT_EQ(LoadEndpoints().RepositoryHost, "127.0.0.1:2121");
}

}  // namespace
}  // namespace talvane
