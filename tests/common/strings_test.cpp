#include "common/strings.h"

#include <gtest/gtest.h>

#include "talvane/version.h"

namespace talvane {
namespace {

TEST(StripHelpers, PathsOccurrencesAndRuns) {
    EXPECT_EQ(StripPath("C:\\Tools\\Tekmo.exe"), "Tekmo.exe");
    EXPECT_EQ(StripPath("/opt/tools/Tekmo"), "Tekmo");
    EXPECT_EQ(StripPath("/opt\\mixed/Tekmo"), "Tekmo");
    EXPECT_EQ(StripPath("Tekmo.exe"), "Tekmo.exe");
    EXPECT_EQ(StripPath("C:\\Tools\\"), "");
    EXPECT_EQ(StripPath("/opt/tools/"), "");
    EXPECT_EQ(StripPath(""), "");

    EXPECT_EQ(Strip("Office.7z", ".7z"), "Office");
    EXPECT_EQ(Strip("aabb", "ab"), "");  // occurrences formed by joining go too
    EXPECT_EQ(Strip("Office", ".zip"), "Office");
    EXPECT_EQ(Strip("a-b-c", "-"), "abc");

    EXPECT_EQ(StripTrailingCharacters("abc   ", " "), "abc");
    EXPECT_EQ(StripTrailingCharacters("   ", " "), "");
    EXPECT_EQ(StripTrailingCharacters("C:\\Tools\\\\", "\\"), "C:\\Tools");
    EXPECT_EQ(StripTrailingCharacters("abc  ", "  "), "abc  ");  // longer argument never matches
    EXPECT_EQ(StripPreceedingCharacters("   abc ", " "), "abc ");
    EXPECT_EQ(StripPreceedingCharacters("xxx", "x"), "");
}

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
        {"key=value=more", "=", false, false, false, "key=value", "more"},
        {"", "\\", false, false, false, "", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(StripEndOfString(c.input, c.delimiter, c.first, c.trimLeading, c.trimTrailing),
                  c.end)
            << c.input;
        EXPECT_EQ(
            StripBeginningOfString(c.input, c.delimiter, c.first, c.trimLeading, c.trimTrailing),
            c.beginning)
            << c.input;
    }
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
    EXPECT_EQ(VersionKey("2.2.105"), VersionKey("2.3.5"));
    EXPECT_EQ(VersionKey("21474.83.64"), 2147483640);
    EXPECT_EQ(VersionKey("21474.83.65"), 0);  // past the signed 32-bit range
    EXPECT_EQ(VersionKey("99999999999999999999.0.0"), 0);
    EXPECT_EQ(VersionKey("1..3"), 0);
}

TEST(VersionLabel, TitleThreeBlanksAndTrailingBlank) {
    std::string label = std::string(version::kTitle) + "   v" + std::to_string(version::kMajor) +
                        "." + std::to_string(version::kMinor);
    if (version::kRevision > 0) label += "." + std::to_string(version::kRevision);
    label += " ";
    EXPECT_EQ(VersionLabel(), label);
    EXPECT_EQ(VersionLabel("beta", "!"), label + "beta!");
    EXPECT_EQ(VersionKey(ProgramVersionText()),
              version::kMajor * 100000L + version::kMinor * 1000L + version::kRevision * 10L);
}

TEST(CaseHelpers, CompareWithoutLetterCase) {
    EXPECT_EQ(ToLower("/SetDefault"), "/setdefault");
    EXPECT_TRUE(EqualsNoCase("%Desktop%", "%DESKTOP%"));
    EXPECT_FALSE(EqualsNoCase("%desktop", "%desktop%"));
    EXPECT_TRUE(ContainsNoCase("run SFX=1", "sfx"));
    EXPECT_FALSE(ContainsNoCase("sf x", "sfx"));
    EXPECT_EQ(Trim(" \t value\t "), "value");
    EXPECT_EQ(Trim(" \t "), "");
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

}  // namespace
}  // namespace talvane
