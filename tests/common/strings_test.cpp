#include "common/strings.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "common/app_paths.h"
#include "support/file_util.h"
#include "support/log_capture.h"
#include "talvane/version.h"

namespace talvane {
namespace {

TEST(StripEnds, SplitsAtTheChosenDelimiter) {
    struct Case {
        const char *input, *delimiter;
        bool first, trimLeading, trimTrailing;
        const char *end, *beginning;
    };
    const Case cases[] = {
        {"a\\b\\c", "\\", false, false, false, "a\\b", "c"},
        {"a\\b\\c", "\\", true, false, false, "a", "b\\c"},
        // '/' and '\' both separate paths
        {"a/b/c", "\\", false, false, false, "a/b", "c"},
        {"a/b\\c", "/", true, false, false, "a", "b\\c"},
        {"  name \\x", "\\", true, true, true, "name", "x"},
        {"  name \\ x ", "\\", true, false, true, "  name", " x"},
        {"no delimiter ", "\\", false, true, true, "no delimiter ", "no delimiter "},
        {"key=value=more", "=", true, false, false, "key", "value=more"},
        {"", "\\", false, false, false, "", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const auto args = std::tuple(c.input, c.delimiter, c.first, c.trimLeading, c.trimTrailing);
        EXPECT_EQ(std::apply(StripEndOfString, args), c.end);
        EXPECT_EQ(std::apply(StripBeginningOfString, args), c.beginning);
    }
}

// Signatures name files as written: the URL's escapes are decoded, unless to a separator or
// control.
TEST(UrlFileName, TheLastPartDecodedWithoutQuery) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/a/Velmora%20Updates.zip?x=/y#z", "Velmora Updates.zip"},
        {"ftp://u:p@h/Talvane.zip", "Talvane.zip"},
        {"http://h/a%2F..%2Fb.zip", "a%2F..%2Fb.zip"},
        {"http://h/x%0Ay.zip", "x%0Ay.zip"},
        {"http://h/100%.zip%4", "100%.zip%4"}};
    for (const auto& [url, name] : cases) EXPECT_EQ(UrlFileName(url), name) << url;
}

TEST(Versions, NewerComparesWeightedKeysAndOverflowIsZero) {
    struct Case {
        const char *current, *candidate;
        bool newer;
    };
    const Case cases[] = {
        {"2.3.4", "2.3.5", true},      {"2.3.5", "2.3.4", false},     {"2.3.4", "2.3.4", false},
        {"2.3.4", "2.3.4.9", false},   {"2.3.4", "02.03.0005", true}, {"2.3.4", "2.2.105", true},
        {"1.9.100", "1.10.0", false},  {"2.3.4", "2.4", false},       {"0.0.0", "2.4", false},
        {"2.4", "0.0.1", true},        {"2.3.4", "2.x.5", false},     {"2.3.4", "3.0.-1", false},
        {"2.3.4", "99999.0.0", false}, {"2.3.4", "21474.0.0", true},  {"", "0.0.1", true}};
    for (const auto& c : cases)
        EXPECT_EQ(IsNewerVersion(c.current, c.candidate), c.newer)
            << c.current << " vs " << c.candidate;
    EXPECT_EQ(VersionKey("2.3.4"), 203040);
    EXPECT_EQ(VersionKey("21474.83.64"), 2147483640);
    EXPECT_EQ(VersionKey("21474.83.65"), 0);  // past the signed 32-bit range
    EXPECT_EQ(VersionKey("99999999999999999999.0.0"), 0);
    EXPECT_EQ(VersionKey("1..3"), 0);
}

TEST(WildcardMatch, FollowsTheWindowsRules) {
    struct Case {
        const char *pattern, *name;
        bool match;
    };
    const Case cases[] = {
        {"*.*", "README", true},    {"*.*", "a.b.c", true},          {"*", ".hidden", true},
        {"*.db", "Sites.DB", true}, {"*.db", "Sites.db.bak", false}, {"*.db", "db", false},
        {"?.txt", "a.txt", true},   {"?.txt", "ab.txt", false},      {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false}, {"notes.*", "notes", true},      {"notes.*", "NOTES.txt", true},
        {"*.", "Makefile", true},   {"*.", "file.txt", false},       {"Tekmo", "tekmo", true}};
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

// Controls become visible, text stays: U+0080-U+009F are controls, U+00A0 and U+00C0 text.
TEST(EscapeControls, ControlsBecomeVisibleAtTheEdgesOfTheirRanges) {
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"plain \xc3\xa9t\xc3\xa9\tok", false, "plain \xc3\xa9t\xc3\xa9\tok"},
        {"a\x1b[31mb", false, "a\\x1b[31mb"},
        {"line\nbreak\r", false, "line\\x0abreak\\x0d"},
        {std::string(1, '\0'), false, "\\x00"},
        {"\x1f \x7e\x7f", false, "\\x1f ~\\x7f"},
        {"\xc2\x80|\xc2\x9f|\xc2\xa0|\xc3\x80|\xc2\x7f|\xc2", false,
         "\\xc2\\x80|\\xc2\\x9f|\xc2\xa0|\xc3\x80|\xc2\\x7f|\xc2"},
        {"a\rb\nc\x0b\t", true, "a\rb\nc\\x0b\t"},
        {"a\x9b[31mb|\xe2\x80\x9b|\xe9|\xe2\x9b", false,
         "a\\x9b[31mb|\xe2\x80\x9b|\xe9|\xe2\\x9b"}};
    for (const auto& [in, keepLineBreaks, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(EscapeControls(in, keepLineBreaks), out);
    }
}

class AppPathsTest : public ::testing::Test {
  protected:
    ~AppPathsTest() override { OverrideExecutablePath(""); }
};

TEST_F(AppPathsTest, InitSetsIniAndWritesTheBanner) {
    const testing::TempDir dir;  // a program folder its user may write
    OverrideExecutablePath(dir.file("Talvane"));
    testing::LogCapture log;
    WriteStartBanner();
    EXPECT_EQ(SettingsFilePath(), dir.file("Talvane.ini"));
    EXPECT_EQ(WorkPath(), dir.file(""));
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "\t");
    const std::regex banner(R"(\t\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} (AM|PM) - Starting )");
    EXPECT_TRUE(std::regex_search(lines[1], banner)) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].find(" - Starting ") + 12), VersionLabel());
    EXPECT_EQ(lines[2], "\t" + std::string(40, '-'));
}

}  // namespace
}  // namespace talvane
