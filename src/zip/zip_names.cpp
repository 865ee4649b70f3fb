#include "zip/zip_names.h"

#include <algorithm>

namespace talvane::zipimpl {

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
