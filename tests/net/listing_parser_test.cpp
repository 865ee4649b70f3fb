// Listing lines as servers send them: pyftpdlib (LIST and MLSD), GNU ls -l
// (vsftpd and ProFTPD pass it through), vsftpd's numeric owners, IIS in its DOS style.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "net/listing_parser.h"

namespace talvane {
namespace {

const std::int64_t kNow = (DaysFromCivil(2026, 12, 6) * 24 + 7) * 3600 + 30 * 60;  // 07:30 UTC

std::string Time(std::chrono::sys_seconds when) {
    const std::time_t t = static_cast<std::time_t>(when.time_since_epoch().count());
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::gmtime(&t));
    return text;
}

// "name[/ for folders] size modified", or "-" when the line is no entry.
std::string Parse(bool mlsd, const char* line) {
    ListingEntry e;
    if (!(mlsd ? ParseMlsdLine(line, e) : ParseListLine(line, kNow, e))) return "-";
    return e.name + (e.isFolder ? "/ " : " ") + std::to_string(e.size) + " " +
           (e.modified ? Time(*e.modified) : "notime");
}

TEST(ListingParserTest, ListLines) {
    const std::pair<const char*, const char*> cases[] = {
        // pyftpdlib
        {"-rw-r--r--   1 root     root            2 Dec 06 07:23 Notes",
         "Notes 2 2026-12-06 07:23:00"},
        {"-rw-r--r--   1 root     root         1000 Mar 04  2023 f 1.bin",
         "f 1.bin 1000 2023-03-04 00:00:00"},
        {"drwxr-xr-x   2 root     root         4096 Dec 06 07:23 sub dir",
         "sub dir/ 4096 2026-12-06 07:23:00"},
        // GNU ls -l
        {"drwxr-xr-x   2 root root  4096 Dec  6 07:07 aclocal",
         "aclocal/ 4096 2026-12-06 07:07:00"},
        // A time without a year that would lie in the future belongs to last year.
        {"-rw-r--r--   1 ftp ftp  5 Dec 24 10:00 gift.txt", "gift.txt 5 2025-12-24 10:00:00"},
        // vsftpd: numeric owners, inner blanks, a link, owner or group named like a month
        {"-rw-r--r--    1 1000     1000     3000000000 Feb 12  2020 big  two.iso",
         "big  two.iso 3000000000 2020-02-12 00:00:00"},
        {"lrwxrwxrwx    1 0        0              23 Jan 05  2024 latest -> releases/tekmo.zip",
         "latest 23 2024-01-05 00:00:00"},
        {"-rw-r--r--    1 1000     may          512 Jan 05  2024 Office.7z",
         "Office.7z 512 2024-01-05 00:00:00"},
        {"-rw-r--r--    1 jan      1001         64 Mar 04 09:15 Notes",
         "Notes 64 2026-03-04 09:15:00"},
        {"-rw-r--r-- 1 owner 77 Jul 1 2022 short.txt",
         "short.txt 77 2022-07-01 00:00:00"},  // no group
        // IIS
        {"02-23-18  10:34AM       <DIR>          aspnet_client",
         "aspnet_client/ 0 2018-02-23 10:34:00"},
        {"11-14-17  03:22PM                  689 iisstart.htm",
         "iisstart.htm 689 2017-11-14 15:22:00"},
        {"01-02-2020  12:05AM             1,234 Field Team.7z",
         "Field Team.7z 1234 2020-01-02 00:05:00"},
        {"06-30-99  12:00PM                    0 old.txt", "old.txt 0 1999-06-30 12:00:00"},
        // no entries
        {"total 500", "-"},
        {"drwxr-xr-x  21 root root  4096 Dec  6 07:07 .", "-"},
        {"drwxr-xr-x  21 root root  4096 Dec  6 07:07 ..", "-"},
        {"-rw-r--r-- garbage", "-"},
        {"-rw-r--r--   1 root root  12 Foo 06 07:23 x", "-"},
        {"-rw-r--r--   1 root root  12 Dec 06 25:99 x", "-"},
        {"", "-"},
        {"13-01-20  10:00AM   5 bad-month", "-"},
        {"01-01-20  13:00PM   5 bad-hour", "-"},
        {"01-01-20  10:00AM", "-"},
    };
    for (const auto& [line, want] : cases) EXPECT_EQ(Parse(false, line), want) << line;
}

TEST(ListingParserTest, MlsdLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"modify=20230304050607;perm=radfwMT;size=1000;type=file;unique=fe00ga72247; f 1.bin",
         "f 1.bin 1000 2023-03-04 05:06:07"},
        {"modify=20261206072318;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga720c3; sub dir",
         "sub dir/ 4096 2026-12-06 07:23:18"},
        // Other servers: upper-case facts, fractions of seconds, other facts, a leading blank.
        {"Type=file;Size=5;Modify=20240101120000.123;Create=20231231000000;Perm=r;  spaced",
         " spaced 5 2024-01-01 12:00:00"},
        {"type=file;modify=2024; badtime", "badtime 0 notime"},
        {"type=cdir;modify=20240101120000; /Tekmo/ConfigSets", "-"},
        {"type=pdir;modify=20240101120000; Tekmo", "-"},  // some servers name them
        {"size=5; no-type", "-"},
        {"nospace", "-"},
    };
    for (const auto& [line, want] : cases) EXPECT_EQ(Parse(true, line), want) << line;
}

TEST(ListingParserTest, SplitsLinesAndSkipsNonEntries) {
    const auto entries = ParseListing(
        "total 12\r\n-rw-r--r--   1 root     root            2 Dec 06 07:23 Notes\r\n\r\n"
        "drwxr-xr-x   2 root root 4096 Dec 06 07:23 sub dir\n-rw-r--r-- 1 root root 1000 Mar 04  "
        "2023 last",
        false, kNow);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name + "|" + entries[1].name + "|" + entries[2].name,
              "Notes|sub dir|last");
    EXPECT_TRUE(ParseListing("", true, kNow).empty());
}

}  // namespace
}  // namespace talvane
