// Listing lines as servers send them: pyftpdlib (LIST and MLSD), GNU ls -l
// (vsftpd and ProFTPD pass it through), vsftpd's numeric owners, IIS in its DOS style.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <ostream>

#include "net/listing_parser.h"

namespace talvane {
namespace {

std::int64_t Utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

// "now" for lines without a year: 2026-12-06 07:30 UTC.
const std::int64_t kNow = Utc(2026, 12, 6, 7, 30);

struct LineCase {
    const char* line;
    const char* name;
    bool dir;
    std::uint64_t size;
    std::int64_t modified;
};

// Short readable names for the generated test cases.
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class ListLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ListLineTest, Parses) {
    const LineCase& c = GetParam();
    ListingEntry e;
    ASSERT_TRUE(ParseListLine(c.line, kNow, e));
    EXPECT_EQ(e.name, c.name);
    EXPECT_EQ(e.isDirectory, c.dir);
    EXPECT_EQ(e.size, c.size);
    EXPECT_TRUE(e.hasTime);
    EXPECT_EQ(e.modifiedUtc, c.modified);
}

INSTANTIATE_TEST_SUITE_P(
    Unix, ListLineTest,
    ::testing::Values(
        // pyftpdlib
        LineCase{"-rw-r--r--   1 root     root            2 Dec 06 07:23 Notes", "Notes", false, 2,
                 Utc(2026, 12, 6, 7, 23)},
        LineCase{"-rw-r--r--   1 root     root         1000 Mar 04  2023 f 1.bin", "f 1.bin", false,
                 1000, Utc(2023, 3, 4)},
        LineCase{"drwxr-xr-x   2 root     root         4096 Dec 06 07:23 sub dir", "sub dir", true,
                 4096, Utc(2026, 12, 6, 7, 23)},
        // GNU ls -l
        LineCase{"drwxr-xr-x   3 root root  4096 Jun 24  2025 GConf", "GConf", true, 4096,
                 Utc(2025, 6, 24)},
        LineCase{"drwxr-xr-x   2 root root  4096 Dec  6 07:07 aclocal", "aclocal", true, 4096,
                 Utc(2026, 12, 6, 7, 7)},
        // A time without a year that would lie in the future belongs to last year.
        LineCase{"-rw-r--r--   1 ftp ftp  5 Dec 24 10:00 gift.txt", "gift.txt", false, 5,
                 Utc(2025, 12, 24, 10, 0)},
        // vsftpd with numeric owners, a symbolic link, a name with inner blanks
        LineCase{"-rw-r--r--    1 1000     1000     3000000000 Feb 12  2020 big  two.iso",
                 "big  two.iso", false, 3000000000ull, Utc(2020, 2, 12)},
        LineCase{"lrwxrwxrwx    1 0        0              23 Jan 05  2024 latest -> "
                 "releases/tekmo.zip",
                 "latest", false, 23, Utc(2024, 1, 5)},
        // Owner or group named like a month (a numeric owner beside the group "may")
        LineCase{"-rw-r--r--    1 1000     may          512 Jan 05  2024 Office.7z", "Office.7z",
                 false, 512, Utc(2024, 1, 5)},
        LineCase{"-rw-r--r--    1 jan      1001         64 Mar 04 09:15 Notes", "Notes", false, 64,
                 Utc(2026, 3, 4, 9, 15)},
        // No group column
        LineCase{"-rw-r--r-- 1 owner 77 Jul 1 2022 short.txt", "short.txt", false, 77,
                 Utc(2022, 7, 1)}));

INSTANTIATE_TEST_SUITE_P(
    Dos, ListLineTest,
    ::testing::Values(LineCase{"02-23-18  10:34AM       <DIR>          aspnet_client",
                               "aspnet_client", true, 0, Utc(2018, 2, 23, 10, 34)},
                      LineCase{"11-14-17  03:22PM                  689 iisstart.htm",
                               "iisstart.htm", false, 689, Utc(2017, 11, 14, 15, 22)},
                      LineCase{"01-02-2020  12:05AM             1,234 Field Team.7z",
                               "Field Team.7z", false, 1234, Utc(2020, 1, 2, 0, 5)},
                      LineCase{"06-30-99  12:00PM                    0 old.txt", "old.txt", false,
                               0, Utc(1999, 6, 30, 12, 0)}));

TEST(ListLineRejectTest, NonEntries) {
    for (const char* line :
         {"total 500", "drwxr-xr-x  21 root root  4096 Dec  6 07:07 .",
          "drwxr-xr-x  21 root root  4096 Dec  6 07:07 ..", "-rw-r--r-- garbage",
          "-rw-r--r--   1 root root  12 Foo 06 07:23 x",
          "-rw-r--r--   1 root root  12 Dec 06 25:99 x", "", "13-01-20  10:00AM   5 bad-month",
          "01-01-20  13:00PM   5 bad-hour", "01-01-20  10:00AM"}) {
        ListingEntry e;
        EXPECT_FALSE(ParseListLine(line, kNow, e)) << line;
    }
}

TEST(MlsdLineTest, ParsesFactsFromPyftpdlib) {
    ListingEntry e;
    ASSERT_TRUE(ParseMlsdLine(
        "modify=20230304050607;perm=radfwMT;size=1000;type=file;unique=fe00ga72247; f 1.bin", e));
    EXPECT_EQ(e.name, "f 1.bin");
    EXPECT_FALSE(e.isDirectory);
    EXPECT_EQ(e.size, 1000u);
    EXPECT_EQ(e.modifiedUtc, Utc(2023, 3, 4, 5, 6, 7));
    EXPECT_FALSE(e.readOnly);

    ASSERT_TRUE(ParseMlsdLine(
        "modify=20261206072318;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga720c3; sub dir", e));
    EXPECT_TRUE(e.isDirectory);
    EXPECT_EQ(e.name, "sub dir");

    // Other servers: upper-case facts, fractions of seconds, create, a leading blank in the name.
    ASSERT_TRUE(
        ParseMlsdLine("Type=file;Size=5;Modify=20240101120000.123;Create=20231231000000;"
                      "Perm=r;  spaced",
                      e));
    EXPECT_EQ(e.name, " spaced");
    EXPECT_EQ(e.modifiedUtc, Utc(2024, 1, 1, 12));
    EXPECT_TRUE(e.hasCreated);
    EXPECT_EQ(e.createdUtc, Utc(2023, 12, 31));
    EXPECT_TRUE(e.readOnly);

    EXPECT_FALSE(ParseMlsdLine("type=cdir;modify=20240101120000; /Tekmo/ConfigSets", e));
    EXPECT_FALSE(ParseMlsdLine("type=pdir;modify=20240101120000; Tekmo", e));  // some servers name them
    EXPECT_FALSE(ParseMlsdLine("size=5; no-type", e));
    EXPECT_FALSE(ParseMlsdLine("nospace", e));
    ASSERT_TRUE(ParseMlsdLine("type=file;modify=2024; badtime", e));
    EXPECT_FALSE(e.hasTime);
}

TEST(ListingTest, SplitsLinesAndSkipsNonEntries) {
    const char* text =
        "total 12\r\n"
        "-rw-r--r--   1 root     root            2 Dec 06 07:23 Notes\r\n"
        "\r\n"
        "drwxr-xr-x   2 root     root         4096 Dec 06 07:23 sub dir\n"
        "-rw-r--r--   1 root     root         1000 Mar 04  2023 last";
    auto entries = ParseListing(text, false, kNow);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "Notes");
    EXPECT_EQ(entries[1].name, "sub dir");
    EXPECT_EQ(entries[2].name, "last");
    EXPECT_TRUE(ParseListing("", true, kNow).empty());
}

}  // namespace
}  // namespace talvane
