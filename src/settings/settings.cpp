#include "settings/settings.h"

#include <cerrno>
#include <vector>

#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "settings/session.h"
#include "settings/stored_settings.h"

namespace talvane {
namespace {

// What a read returns at most, as the 255-character buffer allowed.

constexpr unsigned kNewSettingsFileMode = 0600;  // it holds the scrambled passwords

std::string TrimLine(std::string_view line) {
    std::string t = Trim(line);
    while (!t.empty() && (t.back() == '\r' || t.back() == ' ' || t.back() == '\t')) t.pop_back();
    return t;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = nl + 1;
    }
    return lines;
}

bool IsSectionHeader(const std::string& trimmed, std::string& name) {
    if (trimmed.empty() || trimmed.front() != '[') return false;
    std::size_t close = trimmed.find(']');
    name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// A "key=value" line; comment lines (';') carry no key.
bool SplitKeyLine(const std::string& trimmed, std::string& key, std::string& value) {
    if (trimmed.empty() || trimmed.front() == ';') return false;
    std::size_t eq = trimmed.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return true;
}

// Index of the first line of `section`'s header, or -1.
long FindSection(const std::vector<std::string>& lines, std::string_view section) {
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsSectionHeader(TrimLine(lines[i]), name) && EqualsNoCase(name, section))
            return static_cast<long>(i);
    }
    return -1;
}

// Editors on Windows like to start a UTF-8 file with a byte-order mark; it is
// not part of the first line.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string TakeBom(std::string& text) {
    if (text.compare(0, kUtf8Bom.size(), kUtf8Bom) != 0) return {};
    text.erase(0, kUtf8Bom.size());
    return std::string(kUtf8Bom);
}

// No real settings file comes near this; a bigger one is not read into memory.
constexpr unsigned long long kMaxSettingsFileSize = 1u << 20;

enum class SettingsText { Read, Missing, Unreadable };

// The whole file; `why` says what keeps an existing one from being read.
SettingsText ReadSettingsText(const std::string& path, std::string& text, std::string& why) {
    text.clear();
    const platform::Kind kind = platform::PathKind(path, platform::Links::Follow);
    if (kind == platform::Kind::None &&
        platform::PathKind(path, platform::Links::Name) == platform::Kind::None)
        return SettingsText::Missing;
    if (kind != platform::Kind::File) {
        why = kind == platform::Kind::None ? "it is a link to nothing" : "it is not a regular file";
        return SettingsText::Unreadable;
    }
    fileio::FileFacts facts;
    if (fileio::StatFile(path, facts) && facts.size > kMaxSettingsFileSize) {
        why = "it holds " + std::to_string(facts.size) + " bytes, more than " +
              std::to_string(kMaxSettingsFileSize);
        DPrint("settings file " + path + " refused: " + why);
        return SettingsText::Unreadable;
    }
    if (const int err = platform::ReadFile(path, text)) {
        why = platform::ErrorText(err);
        return err == ENOENT ? SettingsText::Missing : SettingsText::Unreadable;
    }
    return SettingsText::Read;
}

bool ReadSettingsText(const std::string& path, std::string& text) {
    std::string why;
    return ReadSettingsText(path, text, why) == SettingsText::Read;
}

// Saving replaces the file, and the new one belongs to whoever writes it; so only a
// file of ours is replaced (one that is no regular file is not read, so not replaced
// either). A link is followed only when it and its target are ours: a copied program
// folder must not steer a save onto someone else's file, nor, run by an
// administrator, onto a file of the system.
bool SaveTarget(const std::string& file, std::string& target) {
    target = file;
    bool ours = true;
    switch (platform::PathKind(file, platform::Links::Name)) {
        case platform::Kind::None:
            return true;  // a new file
        case platform::Kind::Symlink:
            target = platform::ResolveLinks(file);
            ours = !target.empty() && platform::OwnedByCurrentUser(file, platform::Links::Name) &&
                   platform::OwnedByCurrentUser(target, platform::Links::Name);
            break;
        default:
            ours = platform::OwnedByCurrentUser(file, platform::Links::Name);
    }
    if (!ours)
        DPrint("settings file " + file + " not written: it, or the file it links to, is not " +
               platform::CurrentUserName() + "'s");
    return ours;
}

bool ValidName(std::string_view s) {
    return !s.empty() && s.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

std::optional<std::string> FindIniValue(std::string_view file, std::string_view section,
                                        std::string_view key, std::size_t maxLength) {
    std::string text;
    if (!ReadSettingsText(std::string(file), text)) return std::nullopt;
    TakeBom(text);
    const auto lines = SplitLines(text);
    long header = FindSection(lines, section);
    if (header < 0 || key.empty()) return std::nullopt;
    std::string name, k, v;
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < lines.size(); ++i) {
        const std::string t = TrimLine(lines[i]);
        if (IsSectionHeader(t, name)) break;
        if (!SplitKeyLine(t, k, v) || !EqualsNoCase(k, key)) continue;
        // One pair of enclosing quotes is not part of the value.
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        if (v.size() > maxLength) v.resize(maxLength);
        return v;
    }
    return std::nullopt;
}

std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key) {
    return FindIniValue(file, section, key).value_or(std::string());
}

bool WriteIniValue(std::string_view file, std::string_view section, std::string_view key,
                   std::string_view value) {
    // A line break in any part would plant extra lines (keys) in the file.
    if (!ValidName(section) || !ValidName(key) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos ||
        value.find_first_of("\r\n") != std::string_view::npos)
        return false;
    if (value.size() > kMaxValueLength) {
        DPrint("settings value for " + std::string(key) +
               " refused: " + std::to_string(value.size()) + " bytes");
        return false;
    }
    // A settings file reached through a link is edited where it lives;
    // renaming over the link would cut it off from its target.
    std::string path;
    if (!SaveTarget(std::string(file), path)) return false;
    std::string text, why;
    const SettingsText read = ReadSettingsText(path, text, why);
    // Something there that cannot be read (a folder, no permission, too big) must not
    // be replaced by a file holding only the new key.
    if (read == SettingsText::Unreadable) return false;
    const bool exists = read == SettingsText::Read;
    // A read-only file is not written behind its owner's back.
    if (exists && !IsWritablePath(path)) return false;
    const std::string bom = TakeBom(text);
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    auto lines = SplitLines(text);
    const std::string newLine = std::string(key) + "=" + std::string(value);

    long header = FindSection(lines, section);
    if (header < 0) {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(newLine);
    } else {
        std::size_t end = static_cast<std::size_t>(header) + 1;
        std::size_t lastContent = static_cast<std::size_t>(header);
        bool replaced = false;
        std::string name, k, v;
        for (; end < lines.size(); ++end) {
            const std::string t = TrimLine(lines[end]);
            if (IsSectionHeader(t, name)) break;
            // After the last entry, not after a comment that heads the next section.
            if (!t.empty() && t.front() != ';') lastContent = end;
            if (!replaced && SplitKeyLine(t, k, v) && EqualsNoCase(k, key)) {
                lines[end] = k + "=" + std::string(value);  // keeps the stored spelling
                replaced = true;
            }
        }
        if (!replaced) lines.insert(lines.begin() + static_cast<long>(lastContent) + 1, newLine);
    }

    std::string out = bom;
    for (const auto& line : lines) out += line + eol;
    if (out.size() > kMaxSettingsFileSize) {
        DPrint("settings file " + path + " not written: it would grow past " +
               std::to_string(kMaxSettingsFileSize) + " bytes");
        return false;
    }
    // The file holds the scrambled passwords: every rewrite leaves it readable by
    // its owner only, taking group and other bits away, never adding any.
    const int existingMode = exists ? GetFileMode(path) : -1;
    return WriteFileAtomic(
        path, out,
        existingMode >= 0 ? static_cast<unsigned>(existingMode) & 0700u : kNewSettingsFileMode);
}

std::optional<std::string> SettingsFileProblem(std::string_view file) {
    std::string text, why;
    if (ReadSettingsText(std::string(file), text, why) != SettingsText::Unreadable)
        return std::nullopt;
    return why;
}

// ---- Ascii85

void EmitAscii85Group(std::uint32_t word, std::vector<std::uint8_t>& out, std::size_t& position,
                      bool partial) {
    if (!partial && word == 0) {
        if (out.size() < position + 1) out.resize(position + 1);
        out[position++] = 'z';
        return;
    }
    if (out.size() < position + 5) out.resize(position + 5);
    for (int i = 4; i >= 0; --i) {
        out[position + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word % 85 + 33);
        word /= 85;
    }
    position += 5;
}

bool Ascii85Encode(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& out,
                   bool withDelimiters, int stride) {
    out.clear();
    if (stride < 1) return false;
    const std::size_t step = static_cast<std::size_t>(stride);
    std::vector<std::uint8_t> input;
    input.reserve(bytes.size() / step + 1);
    for (std::size_t i = 0; i < bytes.size(); i += step) input.push_back(bytes[i]);

    const std::size_t n = input.size();
    out.reserve((n / 4 + 1) * 5 + 4);
    std::size_t position = 0;
    if (withDelimiters) {
        out.resize(2);
        out[0] = '<';
        out[1] = '~';
        position = 2;
    }
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        std::uint32_t word = (std::uint32_t{input[i]} << 24) | (std::uint32_t{input[i + 1]} << 16) |
                             (std::uint32_t{input[i + 2]} << 8) | std::uint32_t{input[i + 3]};
        EmitAscii85Group(word, out, position, false);
    }
    if (const std::size_t rest = n - i; rest > 0) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            word <<= 8;
            if (k < rest) word |= input[i + k];
        }
        EmitAscii85Group(word, out, position, true);
        position -= 5 - (rest + 1);  // keep r + 1 characters
    }
    out.resize(position + 2);
    out[position] = '~';
    out[position + 1] = '>';
    return true;
}

bool Ascii85Decode(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& out,
                   int stride) {
    out.clear();
    if (stride < 1) return false;
    const std::size_t s = static_cast<std::size_t>(stride);
    const std::size_t size = bytes.size();
    // "<~" opens the data. A '<' followed by anything else is an ordinary digit:
    // scrambled text nearly always starts with one ('a' ^ '5' = 0x54), so
    // rejecting it would lose every stored password.
    std::size_t begin = 0;
    if (size > s && bytes[0] == '<' && bytes[s] == '~') begin = 2 * s;

    // First pass: count digits and find the "~>" that ends the data.
    std::size_t digits = 0;
    std::size_t dataEnd = 0;  // one past the last data byte
    bool terminated = false;
    for (std::size_t i = begin; i < size; i += s) {
        const std::uint8_t c = bytes[i];
        if (c >= '!' && c <= 'u') {
            ++digits;
        } else if (c == 'z') {
            if (digits % 5 != 0) return false;
            digits += 5;
        } else if (c == '~') {
            if (i + s >= size || bytes[i + s] != '>') return false;
            dataEnd = i;
            terminated = true;
            break;
        } else if (c > 'u') {
            return false;
        }
        // Anything below '!' (blanks, line breaks, NUL) is skipped.
    }
    if (!terminated) return false;

    const std::size_t r = digits % 5;
    const std::size_t length = r == 0 ? 4 * digits / 5 : 4 * (digits - r) / 5 + r - 1;
    out.assign(length, 0);

    std::size_t pos = 0;
    std::uint64_t value = 0;
    std::size_t inGroup = 0;
    auto writeWord = [&](std::uint64_t v, std::size_t count) {
        const auto word = static_cast<std::uint32_t>(v);  // kept as an unsigned 32-bit number
        for (std::size_t k = 0; k < count && pos < out.size(); ++k)
            out[pos++] = static_cast<std::uint8_t>(word >> (24 - 8 * k));
    };
    for (std::size_t i = begin; i < dataEnd; i += s) {
        const std::uint8_t c = bytes[i];
        if (c >= '!' && c <= 'u') {
            value = value * 85 + (c - 33u);
            if (++inGroup == 5) {
                writeWord(value, 4);
                value = 0;
                inGroup = 0;
            }
        } else if (c == 'z') {
            pos += 4;  // already zero
        }
    }
    if (inGroup > 0) {
        for (std::size_t k = inGroup; k < 5; ++k) value = value * 85 + 84;
        writeWord(value, inGroup - 1);
    }
    return true;
}

std::string Ascii85EncodeString(std::string_view text, bool withDelimiters) {
    std::vector<std::uint8_t> in(text.begin(), text.end());
    std::vector<std::uint8_t> out;
    if (!Ascii85Encode(in, out, withDelimiters, 1)) return {};
    return std::string(out.begin(), out.end());
}

// ---- scrambling

namespace {

std::string XorWithKey(std::string text, std::string_view key) {
    if (key.empty()) return text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(key[i % key.size()]);
        text[i] = static_cast<char>(a ^ b);
    }
    return text;
}

}  // namespace

std::string ScrambleString(std::string_view plain, std::string_view key) {
    // Framed piece by piece: GCC 12 warns falsely on "a" + string at -O2.
    std::string framed;
    framed.reserve(plain.size() + 2);
    framed += 'a';
    framed += plain;
    framed += 'a';
    const std::string mixed = XorWithKey(framed, key);
    return Ascii85EncodeString(mixed, false);
}

std::string UnscrambleString(std::string_view stored, std::string_view key) {
    if (stored.empty()) return {};
    std::vector<std::uint8_t> in(stored.begin(), stored.end());
    std::vector<std::uint8_t> decoded;
    if (!Ascii85Decode(in, decoded, 1)) return {};
    std::string mixed = XorWithKey(std::string(decoded.begin(), decoded.end()), key);
    if (mixed.size() < 2) return {};
    return mixed.substr(1, mixed.size() - 2);
}

// ---- start-up load

bool LoadSettings(Session& app) {
    const std::string& ini = app.SettingsFile;
    app.Password = ReadStored(ini, StoredKey::Password);
    app.ZipPassword = ReadStored(ini, StoredKey::ZipPassword);
    app.UserName = ReadStored(ini, StoredKey::UserName);
    app.PublicKey = Trim(ReadStored(ini, StoredKey::PublicKey));
    return !app.UserName.empty() && !app.Password.empty() && !app.ZipPassword.empty();
}

}  // namespace talvane
