#include "common/strings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <vector>

#include "talvane/version.h"

namespace talvane {
namespace {

// Paths on this platform use '/', settings and older callers may still hand
// over '\'; both separate path components.
bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}
bool IsSeparatorDelimiter(std::string_view d) {
    return d.size() == 1 && IsSeparator(d[0]);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t FindDelimiter(std::string_view s, std::string_view delimiter, bool first) {
    if (delimiter.empty()) return std::string_view::npos;
    if (IsSeparatorDelimiter(delimiter)) {
        return first ? s.find_first_of("\\/") : s.find_last_of("\\/");
    }
    return first ? s.find(delimiter) : s.rfind(delimiter);
}

std::string ApplyTrims(std::string s, bool trimLeading, bool trimTrailing) {
    if (trimTrailing) s = StripTrailingCharacters(s, " ");
    if (trimLeading) s = StripPreceedingCharacters(s, " ");
    return s;
}

// A whole number of decimal digits, blanks allowed around it.
bool ParseVersionPart(std::string_view part, std::int64_t& value) {
    std::string t = Trim(part);
    if (t.empty()) return false;
    value = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) return false;
    }
    return true;
}

bool MatchFrom(std::string_view p, std::string_view n) {
    // Iterative '*' matching with one backtrack point.
    std::size_t pi = 0, ni = 0, starP = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || LowerAscii(p[pi]) == LowerAscii(n[ni]))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace

std::string StripPath(std::string_view sFullPathAndFileName) {
    std::size_t pos = sFullPathAndFileName.find_last_of("\\/");
    if (pos == std::string_view::npos) return std::string(sFullPathAndFileName);
    return std::string(sFullPathAndFileName.substr(pos + 1));
}

std::string Strip(std::string_view psLine, std::string_view psRemoveStr) {
    std::string work(psLine);
    if (psRemoveStr.empty()) return work;  // nothing to remove
    for (std::size_t pos = work.find(psRemoveStr); pos != std::string::npos;
         pos = work.find(psRemoveStr)) {
        work.erase(pos, psRemoveStr.size());
    }
    return work;
}

std::string StripEndOfString(std::string_view sOriginalString, std::string_view sDelimiter,
                             bool bUseFirstDelimiter, bool bTrimLeading, bool bTrimTrailing) {
    std::size_t pos = FindDelimiter(sOriginalString, sDelimiter, bUseFirstDelimiter);
    if (pos == std::string_view::npos) return std::string(sOriginalString);
    return ApplyTrims(std::string(sOriginalString.substr(0, pos)), bTrimLeading, bTrimTrailing);
}

std::string StripBeginningOfString(std::string_view sOriginalString, std::string_view sDelimiter,
                                   bool bUseFirstDelimiter, bool bTrimLeading, bool bTrimTrailing) {
    std::size_t pos = FindDelimiter(sOriginalString, sDelimiter, bUseFirstDelimiter);
    if (pos == std::string_view::npos) return std::string(sOriginalString);
    // Starts right after the first character of the delimiter found.
    return ApplyTrims(std::string(sOriginalString.substr(pos + 1)), bTrimLeading, bTrimTrailing);
}

std::string StripTrailingCharacters(std::string_view sOriginalString,
                                    std::string_view sTrailingCharacter) {
    std::string_view s = sOriginalString;
    if (sTrailingCharacter.size() != 1) return std::string(s);
    while (!s.empty() && s.back() == sTrailingCharacter[0]) s.remove_suffix(1);
    return std::string(s);
}

std::string StripPreceedingCharacters(std::string_view sOriginalString,
                                      std::string_view sCharacter) {
    std::string_view s = sOriginalString;
    if (sCharacter.size() != 1) return std::string(s);
    while (!s.empty() && s.front() == sCharacter[0]) s.remove_prefix(1);
    return std::string(s);
}

long VersionKey(std::string_view version) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (parts.size() < 3) return 0;
    static constexpr std::int64_t kWeights[3] = {100000, 1000, 10};
    std::int64_t key = 0;
    for (int i = 0; i < 3; ++i) {
        std::int64_t value = 0;
        if (!ParseVersionPart(parts[static_cast<std::size_t>(i)], value)) return 0;
        key += value * kWeights[i];
        if (key > std::numeric_limits<std::int32_t>::max()) return 0;
    }
    return static_cast<long>(key);
}

bool IsNewerVersion(std::string_view current, std::string_view candidate) {
    return VersionKey(candidate) > VersionKey(current);
}

// Always three parts, so that it can be compared with IsNewerVersion.
std::string ProgramVersionText() {
    return std::to_string(version::kMajor) + "." + std::to_string(version::kMinor) + "." +
           std::to_string(version::kRevision);
}

std::string VersionLabel(std::string_view stage, std::string_view extra) {
    std::string label = std::string(version::kTitle) + "   v" + std::to_string(version::kMajor) +
                        "." + std::to_string(version::kMinor);
    if (version::kRevision > 0) {
        // Appended piece by piece: GCC 12 warns falsely on "." + string at -O2.
        label += '.';
        label += std::to_string(version::kRevision);
    }
    label += ' ';
    label += stage;
    label += extra;
    return label;
}

std::string ToLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return true;
    if (needle.size() > haystack.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return true;
    }
    return false;
}

std::string Trim(std::string_view s) {
    const char* blanks = " \t";
    std::size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(blanks);
    return std::string(s.substr(b, e - b + 1));
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (MatchFrom(pattern, name)) return true;
    // As on Windows, "name.*" also selects "name" and "*." selects names without a dot.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
        return MatchFrom(pattern.substr(0, pattern.size() - 2), name) &&
               name.find('.') == std::string_view::npos;
    if (!pattern.empty() && pattern.back() == '.' && name.find('.') == std::string_view::npos)
        return MatchFrom(pattern.substr(0, pattern.size() - 1), name);
    return false;
}

namespace {
// The length of the well-formed UTF-8 sequence at `i`, 0 for none.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = lead >= 0xf5   ? 0
                          : lead >= 0xf0 ? 4
                          : lead >= 0xe0 ? 3
                          : lead >= 0xc2 ? 2
                                         : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
    return n;
}
}  // namespace

std::string EscapeControls(std::string_view text, bool keepLineBreaks) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineBreak = c == '\n' || c == '\r';
        if ((c < 0x20 && c != '\t' && !(lineBreak && keepLineBreaks)) || c == 0x7f) {
            escape(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t n = Utf8SequenceAt(text, i); n == 0) {
            // A byte of no UTF-8 sequence; 0x80-0x9f are the 8-bit controls (0x9b: CSI).
            if (c <= 0x9f)
                escape(c);
            else
                out += static_cast<char>(c);
        } else if (c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            escape(c);
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out.append(text.substr(i, n));
            i += n - 1;
        }
    }
    return out;
}

std::string UrlFileName(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const std::string_view raw = url.substr(url.rfind('/') + 1);
    std::string name;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        unsigned value = 0;
        const char* digits = raw.data() + i + 1;
        if (raw[i] == '%' && i + 2 < raw.size() &&
            std::from_chars(digits, digits + 2, value, 16).ptr == digits + 2) {
            name += static_cast<char>(value);
            i += 2;
        } else {
            name += raw[i];
        }
    }
    const bool plain = std::none_of(name.begin(), name.end(), [](unsigned char c) {
        return c < 0x20 || c == 0x7f || c == '/' || c == '\\';
    });
    return plain ? name : std::string(raw);
}

}  // namespace talvane
