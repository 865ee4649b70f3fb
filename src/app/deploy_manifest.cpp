#include "app/deploy_manifest.h"

#include <charconv>
#include <cstdio>
#include <sstream>

#include "common/atomic_file.h"
#include "common/files.h"
#include "common/log.h"
#include "platform/file_io.h"

namespace talvane::app {
namespace {

constexpr const char* kHeader = "talvane-deploy 1";
constexpr std::size_t kMaxManifestBytes = 64U << 20;

// Names, times and signatures go on one line each: text with a line break in it
// cannot be stored, and such a deploy is simply not recorded.
bool Storable(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
        out += static_cast<char>(value);
    }
    return out;
}

template <typename Number>
bool ReadNumber(std::string_view text, Number& out, int base = 10) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// "key value" with the value running to the end of the line.
bool Field(const std::string& line, std::string_view key, std::string& value) {
    if (line.size() < key.size() + 1 || line.compare(0, key.size(), key) != 0 ||
        line[key.size()] != ' ')
        return false;
    value = line.substr(key.size() + 1);
    return true;
}

// "file <size> <crc hex> <modified> <path>"
bool ParseFile(const std::string& line, DeployedFile& file) {
    std::string rest;
    if (!Field(line, "file", rest)) return false;
    std::string_view view(rest);
    std::string_view parts[3];
    for (auto& part : parts) {
        const auto blank = view.find(' ');
        if (blank == std::string_view::npos) return false;
        part = view.substr(0, blank);
        view.remove_prefix(blank + 1);
    }
    file.path = std::string(view);
    return !file.path.empty() && ReadNumber(parts[0], file.size) &&
           ReadNumber(parts[1], file.crc, 16) && ReadNumber(parts[2], file.modified);
}

std::optional<DeployManifest> Parse(const std::string& text) {
    std::istringstream in(text);
    std::string line, value;
    DeployManifest m;
    if (!std::getline(in, line) || line != kHeader) return std::nullopt;
    if (!std::getline(in, line) || !Field(line, "package", m.package)) return std::nullopt;
    if (!std::getline(in, line) || !Field(line, "size", value) || !ReadNumber(value, m.serverSize))
        return std::nullopt;
    if (!std::getline(in, line) || !Field(line, "time", m.serverTime)) return std::nullopt;
    if (!std::getline(in, line) || !Field(line, "signature", value)) return std::nullopt;
    auto signature = FromHex(value);
    if (!signature) return std::nullopt;
    m.signature = std::move(*signature);
    while (std::getline(in, line)) {
        if (line == "end") return m;
        DeployedFile file;
        if (!ParseFile(line, file)) return std::nullopt;
        m.files.push_back(std::move(file));
    }
    return std::nullopt;  // cut short
}

}  // namespace

std::string ManifestPath(const std::string& toolTree) {
    return toolTree + "/Talvane.deployed";
}

std::optional<DeployManifest> LoadManifest(const std::string& toolTree) {
    fileio::FileFacts facts;
    const std::string path = ManifestPath(toolTree);
    if (!fileio::StatFile(path, facts) || facts.size > kMaxManifestBytes) return std::nullopt;
    std::string text;
    if (!ReadWholeFile(path, text)) return std::nullopt;
    auto manifest = Parse(text);
    if (!manifest) DPrint("the deploy record " + path + " is damaged; it is not used");
    return manifest;
}

bool SaveManifest(const std::string& toolTree, const DeployManifest& m) {
    if (!Storable(m.package) || !Storable(m.serverTime)) return false;
    std::string text = std::string(kHeader) + "\npackage " + m.package + "\nsize " +
                       std::to_string(m.serverSize) + "\ntime " + m.serverTime + "\nsignature " +
                       Hex(m.signature) + "\n";
    for (const DeployedFile& f : m.files) {
        if (!Storable(f.path)) return false;
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(f.crc));
        text += "file " + std::to_string(f.size) + " " + crc + " " + std::to_string(f.modified) +
                " " + f.path + "\n";
    }
    text += "end\n";
    return static_cast<bool>(WriteFileAtomically(ManifestPath(toolTree), text));
}

void ForgetManifest(const std::string& toolTree) {
    fileio::RemoveFile(ManifestPath(toolTree));
}

bool SamePackageOnServer(const DeployManifest& m, const DeployManifest& server) {
    return server.serverSize >= 0 && !server.serverTime.empty() && m.package == server.package &&
           m.serverSize == server.serverSize && m.serverTime == server.serverTime &&
           m.signature == server.signature;
}

std::vector<std::string> ChangedFiles(const std::string& toolTree, const DeployManifest& m) {
    std::vector<std::string> changed;
    for (const DeployedFile& f : m.files) {
        fileio::FileFacts facts;
        if (!fileio::StatFile(toolTree + "/" + f.path, facts) || facts.size != f.size ||
            static_cast<long long>(facts.modified) != f.modified)
            changed.push_back(f.path);
    }
    return changed;
}

}  // namespace talvane::app
