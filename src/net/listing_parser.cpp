#include "net/listing_parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <ctime>
#include <optional>

#include "platform/platform.h"

namespace talvane::net {

namespace {

constexpr std::int64_t kDaySeconds = 86400;

bool IsDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

template <typename T>
bool ToNumber(std::string_view s, T& value) {
    if (!IsDigits(s)) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && p == s.data() + s.size();
}

// Sizes beyond the signed 64-bit range are taken as its largest value.
bool ToSize(std::string_view s, std::int64_t& size) {
    std::uint64_t value = 0;
    if (!ToNumber(s, value)) return false;
    size = static_cast<std::int64_t>(std::min<std::uint64_t>(value, INT64_MAX));
    return true;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

int MonthIndex(std::string_view token) {
    static constexpr std::array<std::string_view, 12> kMonths{
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (EqualNoCase(token, kMonths[i])) return static_cast<int>(i) + 1;
    return 0;
}

bool ValidClock(int hour, int minute, int second) {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 61;
}

std::int64_t ToUtc(std::int64_t year, int month, int day, int hour, int minute, int second) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
               kDaySeconds +
           hour * 3600 + minute * 60 + second;
}

std::chrono::sys_seconds AsTime(std::int64_t utc) {
    return std::chrono::sys_seconds(std::chrono::seconds(utc));
}

// "YYYYMMDDHHMMSS[.sss]"
std::optional<std::chrono::sys_seconds> ParseMlsdTime(std::string_view v) {
    auto dot = v.find('.');
    if (dot != std::string_view::npos) v = v.substr(0, dot);
    if (v.size() != 14 || !IsDigits(v)) return std::nullopt;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    ToNumber(v.substr(0, 4), y);
    ToNumber(v.substr(4, 2), mo);
    ToNumber(v.substr(6, 2), d);
    ToNumber(v.substr(8, 2), h);
    ToNumber(v.substr(10, 2), mi);
    ToNumber(v.substr(12, 2), s);
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || !ValidClock(h, mi, s)) return std::nullopt;
    return AsTime(ToUtc(y, mo, d, h, mi, s));
}

struct Token {
    std::string_view text;
    std::size_t end;  // offset just past the token in the line
};

// Splits the first `max` blank-separated tokens off the line.
std::vector<Token> Tokens(std::string_view line, std::size_t max) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (out.size() < max) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        out.push_back({line.substr(start, i - start), i});
    }
    return out;
}

bool IsDotName(std::string_view name) {
    return name.empty() || name == "." || name == "..";
}

// The entry of a Unix line whose month column is tokens[monthAt]; false when the
// columns around it do not read as size, day and time or year.
bool ParseUnixAt(std::string_view line, const std::vector<Token>& tokens, std::size_t monthAt,
                 std::int64_t nowUtc, ListingEntry& out) {
    const char type = line[0];
    const Token& sizeTok = tokens[monthAt - 1];
    const Token& dayTok = tokens[monthAt + 1];
    const Token& whenTok = tokens[monthAt + 2];
    std::int64_t size = 0;
    int day = 0;
    if (!ToSize(sizeTok.text, size) || !ToNumber(dayTok.text, day) || day < 1 || day > 31)
        return false;
    const int month = MonthIndex(tokens[monthAt].text);

    std::int64_t when = 0;
    auto colon = whenTok.text.find(':');
    if (colon != std::string_view::npos) {
        int hour = 0, minute = 0;
        if (!ToNumber(whenTok.text.substr(0, colon), hour) ||
            !ToNumber(whenTok.text.substr(colon + 1), minute) || !ValidClock(hour, minute, 0))
            return false;
        // No year: the most recent one that is not in the future.
        std::time_t now = static_cast<std::time_t>(nowUtc);
        std::tm parts{};
        platform::UtcTime(now, parts);
        std::int64_t year = parts.tm_year + 1900;
        when = ToUtc(year, month, day, hour, minute, 0);
        if (when > nowUtc + kDaySeconds) when = ToUtc(year - 1, month, day, hour, minute, 0);
    } else {
        int year = 0;
        if (!ToNumber(whenTok.text, year) || year < 1900) return false;
        when = ToUtc(year, month, day, 0, 0, 0);
    }

    // The name starts after exactly one blank so that names with leading or
    // inner runs of blanks survive.
    std::size_t nameAt = whenTok.end + 1;
    if (nameAt > line.size()) return false;
    std::string_view name = line.substr(nameAt);
    if (type == 'l') {
        auto arrow = name.find(" -> ");
        if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    if (IsDotName(name)) return false;

    out = ListingEntry{std::string(name), size, AsTime(when), type == 'd'};
    return true;
}

// "drwxr-xr-x 2 user group 4096 Jan  2 15:04 name" and variants without
// the group or link count: the size is the number just before the month. An
// owner or group that is itself a month name ("jan", "may") is passed over.
bool ParseUnix(std::string_view line, std::int64_t nowUtc, ListingEntry& out) {
    if (line.size() < 10) return false;
    if (std::string_view("-dlbcps").find(line[0]) == std::string_view::npos) return false;
    auto tokens = Tokens(line, 10);
    for (std::size_t i = 2; i + 2 < tokens.size(); ++i) {
        if (MonthIndex(tokens[i].text) && IsDigits(tokens[i - 1].text) &&
            IsDigits(tokens[i + 1].text) && ParseUnixAt(line, tokens, i, nowUtc, out))
            return true;
    }
    return false;
}

// "01-02-20  03:04PM       <DIR>          folder" / "01-02-2020  03:04PM   1234 file"
bool ParseDos(std::string_view line, ListingEntry& out) {
    auto tokens = Tokens(line, 3);
    if (tokens.size() < 3) return false;
    std::string_view date = tokens[0].text;
    std::string_view clock = tokens[1].text;
    if (date.size() != 8 && date.size() != 10) return false;
    if (date[2] != '-' && date[2] != '/') return false;
    if (date[5] != date[2]) return false;
    int month = 0, day = 0, year = 0;
    if (!ToNumber(date.substr(0, 2), month) || !ToNumber(date.substr(3, 2), day) ||
        !ToNumber(date.substr(6), year))
        return false;
    if (date.size() == 8) year += year < 70 ? 2000 : 1900;
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;

    auto colon = clock.find(':');
    if (colon == std::string_view::npos) return false;
    int hour = 0, minute = 0;
    std::string_view minutes = clock.substr(colon + 1);
    std::string_view meridiem;
    if (minutes.size() >= 4) {
        meridiem = minutes.substr(2);
        minutes = minutes.substr(0, 2);
    }
    if (!ToNumber(clock.substr(0, colon), hour) || !ToNumber(minutes, minute)) return false;
    if (!meridiem.empty()) {
        if (hour < 1 || hour > 12) return false;
        if (EqualNoCase(meridiem, "AM")) {
            if (hour == 12) hour = 0;
        } else if (EqualNoCase(meridiem, "PM")) {
            if (hour != 12) hour += 12;
        } else {
            return false;
        }
    }
    if (!ValidClock(hour, minute, 0)) return false;

    const Token& third = tokens[2];
    bool dir = false;
    std::int64_t size = 0;
    if (EqualNoCase(third.text, "<DIR>")) {
        dir = true;
    } else {
        std::string digits;
        for (char c : third.text)
            if (c != ',' && c != '.') digits += c;
        if (!ToSize(digits, size)) return false;
    }
    std::size_t nameAt = third.end;
    while (nameAt < line.size() && (line[nameAt] == ' ' || line[nameAt] == '\t')) ++nameAt;
    std::string_view name = line.substr(nameAt);
    if (IsDotName(name)) return false;

    out = ListingEntry{std::string(name), size, AsTime(ToUtc(year, month, day, hour, minute, 0)),
                       dir};
    return true;
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    // Howard Hinnant's algorithm.
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool ParseMlsdLine(std::string_view line, ListingEntry& out) {
    auto space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view facts = line.substr(0, space);
    std::string_view name = line.substr(space + 1);
    if (IsDotName(name)) return false;

    ListingEntry entry;
    entry.name = std::string(name);
    bool typed = false;
    while (!facts.empty()) {
        auto semi = facts.find(';');
        std::string_view fact = facts.substr(0, semi);
        facts = semi == std::string_view::npos ? std::string_view{} : facts.substr(semi + 1);
        auto eq = fact.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = fact.substr(0, eq);
        std::string_view value = fact.substr(eq + 1);
        if (EqualNoCase(key, "type")) {
            typed = true;
            if (EqualNoCase(value, "cdir") || EqualNoCase(value, "pdir")) return false;
            entry.isFolder = EqualNoCase(value, "dir");
        } else if (EqualNoCase(key, "size") || EqualNoCase(key, "sizd")) {
            ToSize(value, entry.size);
        } else if (EqualNoCase(key, "modify")) {
            entry.modified = ParseMlsdTime(value);
        }
    }
    if (!typed) return false;
    out = std::move(entry);
    return true;
}

bool ParseListLine(std::string_view line, std::int64_t nowUtc, ListingEntry& out) {
    if (line.empty()) return false;
    if (line[0] >= '0' && line[0] <= '9') return ParseDos(line, out);
    return ParseUnix(line, nowUtc, out);
}

std::vector<ListingEntry> ParseListing(std::string_view text, bool mlsd, std::int64_t nowUtc,
                                       std::size_t maxEntries) {
    std::vector<ListingEntry> entries;
    while (!text.empty() && entries.size() < maxEntries) {
        auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ListingEntry entry;
        if (mlsd ? ParseMlsdLine(line, entry) : ParseListLine(line, nowUtc, entry))
            entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace talvane::net
