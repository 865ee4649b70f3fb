#include "zip/zip_names.h"

#include <libdeflate.h>

#include <algorithm>

namespace talvane::zipimpl {

namespace {

// Code page 437, bytes 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t more = 0;
        char32_t c = 0;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b < 0xC2 || b > 0xF4) return false;
        more = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        c = b & (0x7Fu >> (more + 1));
        if (s.size() - i <= more) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            c = (c << 6) | (t & 0x3Fu);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((more == 2 && c < 0x800) || (more == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

bool IsShiftJisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsShiftJisTrail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Names that are not UTF-8 come from tools writing the local code page: 437 for
// most, Shift-JIS for Japanese Windows, whose trail bytes include 0x5C. Zip names
// separate folders with '/', so taking 0x5C after a lead byte as part of a character
// costs at most a folder split of a non-conforming name; the other way round a
// Japanese name would land in made-up folders. Valid UTF-8 never reaches here,
// so its '\' after a multi-byte character keeps separating.
std::string FromCodePage437(std::string_view raw) {
    std::string out;
    out.reserve(raw.size() * 2);
    const auto put = [&](unsigned char b) {
        if (b < 0x80)
            out += static_cast<char>(b);
        else
            AppendUtf8(out, kCp437High[b - 0x80]);
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto b = static_cast<unsigned char>(raw[i]);
        put(b);
        if (!IsShiftJisLead(b) || i + 1 == raw.size()) continue;
        const auto trail = static_cast<unsigned char>(raw[i + 1]);
        if (!IsShiftJisTrail(trail)) continue;
        ++i;
        if (trail == 0x5C)
            AppendUtf8(out, 0xFF3C);  // FULLWIDTH REVERSE SOLIDUS
        else
            put(trail);
    }
    return out;
}

// The Info-ZIP Unicode Path field: version 1, the CRC-32 of the stored name, the name.
std::optional<std::string> UnicodePath(std::string_view raw, std::string_view extra) {
    const auto field = zipfmt::FindExtra(extra, zipfmt::kExtraUnicodePath);
    if (!field || field->size() < 5 || (*field)[0] != 1) return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(field->data());
    if (zipfmt::Get32(p + 1) != libdeflate_crc32(0, raw.data(), raw.size())) return std::nullopt;
    return std::string(field->substr(5));
}

}  // namespace

std::string DecodeName(std::string_view raw, std::uint16_t flags, std::string_view extra) {
    if (flags & zipfmt::kFlagUtf8) return std::string(raw);
    if (auto unicode = UnicodePath(raw, extra)) return *unicode;
    if (IsValidUtf8(raw)) return std::string(raw);
    return FromCodePage437(raw);
}

std::string JoinForText(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string WithSlashes(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::optional<std::vector<std::string>> SplitSafeName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\') return std::nullopt;
    if (name.size() >= 2 && name[1] == ':') return std::nullopt;
    if (name.find('\0') != std::string::npos) return std::nullopt;
    const char last = name.back();
    if (last == '/' || last == '\\') return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

unsigned FileMode(const zipfmt::CentralRecord& cr) {
    const unsigned host = cr.versionMadeBy >> 8;
    const unsigned bits = (cr.externalAttr >> 16) & 0777u;
    if (host == zipfmt::kHostUnix && bits != 0) return bits & ~022u;
    return 0644;
}

unsigned RecordedMode(const zipfmt::CentralRecord& cr) {
    return (cr.versionMadeBy >> 8) == zipfmt::kHostUnix ? (cr.externalAttr >> 16) & 07777u : 0u;
}

}  // namespace talvane::zipimpl
