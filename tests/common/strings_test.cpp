#include "common/strings.h"

#include <gtest/gtest.h>

#include <tuple>

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

}  // namespace
}  // namespace talvane
