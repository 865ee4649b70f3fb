#include "app/startup.h"

#include <gtest/gtest.h>
#include "support/file_util.h"

#include <optional>
#include <string>

namespace talvane {
namespace {

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
    // Each later variable takes precedence over the earlier fallback.
    ScopedEnv noPublic("PUBLIC", nullptr), noXdg("XDG_DESKTOP_DIR", nullptr);
    EXPECT_EQ(ResolveExtractFolder("%desktop%"), "/home/tech/Desktop/tekmo");
    ScopedEnv xdg("XDG_DESKTOP_DIR", "/home/tech/Schreibtisch/");
    EXPECT_EQ(ResolveExtractFolder("%DESKTOP%"), "/home/tech/Schreibtisch/tekmo");
    ScopedEnv pub("PUBLIC", "/srv/public");
    EXPECT_EQ(ResolveExtractFolder("%Desktop%"), "/srv/public/Desktop/tekmo");
}

}  // namespace
}  // namespace talvane
