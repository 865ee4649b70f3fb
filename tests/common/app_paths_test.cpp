#include "common/app_paths.h"

#include <gtest/gtest.h>

#include <regex>

#include "common/strings.h"
#include "support/log_capture.h"

namespace talvane {
namespace {

class AppPathsTest : public ::testing::Test {
  protected:
    ~AppPathsTest() override { OverrideExecutablePath(""); }
};

TEST_F(AppPathsTest, InitSetsIniAndWritesTheBanner) {
    OverrideExecutablePath("/opt/tools/Talvane");
    testing::LogCapture log;
    WriteStartBanner();
    EXPECT_EQ(SettingsFilePath(), "/opt/tools/Talvane.ini");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "\t");
    const std::regex banner(R"(\t\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} (AM|PM) - Starting )");
    EXPECT_TRUE(std::regex_search(lines[1], banner)) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].find(" - Starting ") + 12), VersionLabel());
    EXPECT_EQ(lines[2], "\t" + std::string(40, '-'));

    OverrideExecutablePath("/Talvane");  // started from the root folder
    WriteStartBanner();
    EXPECT_EQ(SettingsFilePath(), "/Talvane.ini");
}

}  // namespace
}  // namespace talvane
