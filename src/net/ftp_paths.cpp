#include "net/ftp_paths.h"

#include <vector>

namespace talvane::net {

namespace {

// Applies the '/'-separated segments of `text` to `parts`.
void PushSegments(std::vector<std::string>& parts, std::string_view text) {
    std::size_t i = 0;
    while (i <= text.size()) {
        auto slash = text.find('/', i);
        std::string_view seg =
            text.substr(i, slash == std::string_view::npos ? std::string_view::npos : slash - i);
        if (seg == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.emplace_back(seg);
        }
        if (slash == std::string_view::npos) break;
        i = slash + 1;
    }
}

}  // namespace

bool HasUnsafeChars(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string ResolvePath(const std::string& current, std::string_view path) {
    std::vector<std::string> parts;
    if (path.empty() || path.front() != '/') PushSegments(parts, current);
    PushSegments(parts, path);
    std::string out;
    for (const auto& p : parts) {
        out += '/';
        out += p;
    }
    return out.empty() ? "/" : out;
}

std::pair<std::string, std::string> SplitFolder(const std::string& absolute) {
    auto slash = absolute.find_last_of('/');
    std::string folder = slash == 0 ? "/" : absolute.substr(0, slash);
    return {folder, absolute.substr(slash + 1)};
}

std::string EncodeUrlPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string FtpUrl(const std::string& server, const std::string& absolute, bool folder) {
    std::string rel = absolute.substr(1);
    if (folder && !rel.empty()) rel += '/';
    return "ftp://" + server + "/" + EncodeUrlPath(rel);
}

std::string ServerPath(const std::string& entryPath, const std::string& absolute) {
    if (entryPath.empty() || entryPath == "/") return absolute;
    std::string base = entryPath;
    if (base.back() == '/') base.pop_back();
    return absolute == "/" ? base : base + absolute;
}

}  // namespace talvane::net
