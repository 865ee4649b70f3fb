#include "common/strings.h"

#include <gtest/gtest.h>

#include "talvane/version.h"

namespace talvane {
namespace {

TEST(StripPath, TakesTheNameAfterTheLastSeparator) {
    EXPECT_EQ(StripPath("C:\\Tools\\Tekmo.exe"), "Tekmo.exe");
    EXPECT_EQ(StripPath("/opt/tools/Tekmo"), "Tekmo");
    EXPECT_EQ(StripPath("/opt\\mixed/Tekmo"), "Tekmo");
    EXPECT_EQ(StripPath("Tekmo.exe"), "Tekmo.exe");
    EXPECT_EQ(StripPath("C:\\Tools\\"), "");
    EXPECT_EQ(StripPath("/opt/tools/"), "");
    EXPECT_EQ(StripPath(""), "");
}

TEST(Strip, RemovesEveryOccurrenceIncludingOnesFormedByJoining) {
    EXPECT_EQ(Strip("Office.7z", ".7z"), "Office");
    EXPECT_EQ(Strip("aabb", "ab"), "");
    EXPECT_EQ(Strip("Office", ".zip"), "Office");
    EXPECT_EQ(Strip("a-b-c", "-"), "abc");
}

struct StripCase {
    const char* input;
    const char* delimiter;
    bool first;
    bool trimLeading;
    bool trimTrailing;
    const char* end;        // StripEndOfString
    const char* beginning;  // StripBeginningOfString
};

class StripEnds : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripEnds, SplitsAtTheChosenDelimiter) {
    const auto& c = GetParam();
    EXPECT_EQ(StripEndOfString(c.input, c.delimiter, c.first, c.trimLeading, c.trimTrailing),
              c.end);
    EXPECT_EQ(StripBeginningOfString(c.input, c.delimiter, c.first, c.trimLeading, c.trimTrailing),
              c.beginning);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StripEnds,
    ::testing::Values(StripCase{"a\\b\\c", "\\", false, false, false, "a\\b", "c"},
                      StripCase{"a\\b\\c", "\\", true, false, false, "a", "b\\c"},
                      // '/' and '\' both separate paths
                      StripCase{"a/b/c", "\\", false, false, false, "a/b", "c"},
                      StripCase{"a/b\\c", "/", true, false, false, "a", "b\\c"},
                      StripCase{"  name \\x", "\\", true, true, true, "name", "x"},
                      StripCase{"  name \\ x ", "\\", true, false, true, "  name", " x"},
                      StripCase{"no delimiter ", "\\", false, true, true, "no delimiter ",
                                "no delimiter "},
                      StripCase{"key=value=more", "=", true, false, false, "key", "value=more"},
                      StripCase{"key=value=more", "=", false, false, false, "key=value", "more"},
                      StripCase{"", "\\", false, false, false, "", ""}));

TEST(StripCharacters, RemovesRunsAtOneEnd) {
    EXPECT_EQ(StripTrailingCharacters("abc   ", " "), "abc");
    EXPECT_EQ(StripTrailingCharacters("   ", " "), "");
    EXPECT_EQ(StripTrailingCharacters("C:\\Tools\\\\", "\\"), "C:\\Tools");
    EXPECT_EQ(StripTrailingCharacters("abc  ", "  "), "abc  ");  // longer argument never matches
    EXPECT_EQ(StripPreceedingCharacters("   abc ", " "), "abc ");
    EXPECT_EQ(StripPreceedingCharacters("xxx", "x"), "");
}

struct VersionCase {
    const char* current;
    const char* candidate;
    bool newer;
};

class NewerVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(NewerVersion, ComparesWeightedKeys) {
    const auto& c = GetParam();
    EXPECT_EQ(IsNewerVersion(c.current, c.candidate), c.newer)
        << c.current << " vs " << c.candidate;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NewerVersion,
    ::testing::Values(VersionCase{"2.3.4", "2.3.5", true}, VersionCase{"2.3.5", "2.3.4", false},
                      VersionCase{"2.3.4", "2.3.4", false}, VersionCase{"2.3.4", "2.3.4.9", false},
                      VersionCase{"2.3.4", "02.03.0005", true},
                      VersionCase{"2.3.4", "2.2.105", true},
                      VersionCase{"1.9.100", "1.10.0", false}, VersionCase{"2.3.4", "2.4", false},
                      VersionCase{"0.0.0", "2.4", false}, VersionCase{"2.4", "0.0.1", true},
                      VersionCase{"2.3.4", "2.x.5", false}, VersionCase{"2.3.4", "3.0.-1", false},
                      VersionCase{"2.3.4", "99999.0.0", false},
                      VersionCase{"2.3.4", "21474.0.0", true}, VersionCase{"", "0.0.1", true}));

TEST(VersionKey, WeightsAndOverflow) {
    EXPECT_EQ(VersionKey("2.3.4"), 2 * 100000 + 3 * 1000 + 4 * 10);
    EXPECT_EQ(VersionKey("2.2.105"), VersionKey("2.3.5"));
    EXPECT_EQ(VersionKey("1.10.0"), VersionKey("1.9.100"));
    EXPECT_EQ(VersionKey("21474.83.64"), 2147483640);
    EXPECT_EQ(VersionKey("21474.83.65"), 0);  // past the signed 32-bit range
    EXPECT_EQ(VersionKey("99999999999999999999.0.0"), 0);
    EXPECT_EQ(VersionKey("1..3"), 0);
}

TEST(VersionLabel, TitleThreeBlanksAndTrailingBlank) {
    std::string expected = std::string(version::kTitle) + "   v" + std::to_string(version::kMajor) +
                           "." + std::to_string(version::kMinor);
    if (version::kRevision > 0) expected += "." + std::to_string(version::kRevision);
    expected += " ";
    EXPECT_EQ(VersionLabel(), expected);
    EXPECT_EQ(VersionLabel("beta", "!"), expected + "beta!");
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

struct WildCase {
    const char* pattern;
    const char* name;
    bool match;
};

class Wildcards : public ::testing::TestWithParam<WildCase> {};

TEST_P(Wildcards, FollowTheWindowsRules) {
    const auto& c = GetParam();
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Wildcards,
    ::testing::Values(WildCase{"*.*", "README", true}, WildCase{"*.*", "a.b.c", true},
                      WildCase{"*", ".hidden", true}, WildCase{"*.db", "Sites.DB", true},
                      WildCase{"*.db", "Sites.db.bak", false}, WildCase{"*.db", "db", false},
                      WildCase{"?.txt", "a.txt", true}, WildCase{"?.txt", "ab.txt", false},
                      WildCase{"a*b*c", "aXXbYYc", true}, WildCase{"a*b*c", "aXXbYY", false},
                      WildCase{"notes.*", "notes", true}, WildCase{"notes.*", "NOTES.txt", true},
                      WildCase{"*.", "Makefile", true}, WildCase{"*.", "file.txt", false},
                      WildCase{"Tekmo", "tekmo", true}));

}  // namespace
}  // namespace talvane
