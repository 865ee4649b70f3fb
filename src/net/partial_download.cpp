#include "net/partial_download.h"

#include <charconv>

namespace talvane::net {

namespace {

// "<key> <digits>\n" at the start of `text`, which moves past it.
std::optional<std::int64_t> TakeField(std::string_view& text, std::string_view key) {
    if (text.substr(0, key.size() + 1) != std::string(key) + ' ') return std::nullopt;
    text.remove_prefix(key.size() + 1);
    std::int64_t value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || value < 0 || end == text.data() + text.size() || *end != '\n')
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
    return value;
}

// "<key> <text>\n" at the start of `text`; the text may hold no line break.
std::optional<std::string> TakeText(std::string_view& text, std::string_view key) {
    if (text.substr(0, key.size() + 1) != std::string(key) + ' ') return std::nullopt;
    text.remove_prefix(key.size() + 1);
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos || end == 0) return std::nullopt;
    std::string value(text.substr(0, end));
    text.remove_prefix(end + 1);
    return value;
}

bool OneLine(const std::string& text) {
    return !text.empty() && text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::string PartPath(const std::string& target) {
    return target + ".partial";
}

std::string OriginPath(const std::string& target) {
    return target + ".partial.info";
}

std::string FormatOrigin(const PartOrigin& origin) {
    // A name with a line break cannot be recorded; such a part is never continued.
    if (!OneLine(origin.host) || !OneLine(origin.path)) return {};
    return "size " + std::to_string(origin.size) + "\nmodified " + std::to_string(origin.modified) +
           "\nhost " + origin.host + "\npath " + origin.path + "\n";
}

std::optional<PartOrigin> ParseOrigin(std::string_view text) {
    const auto size = TakeField(text, "size");
    const auto modified = size ? TakeField(text, "modified") : std::nullopt;
    auto host = modified ? TakeText(text, "host") : std::nullopt;
    auto path = host ? TakeText(text, "path") : std::nullopt;
    if (!path || !text.empty()) return std::nullopt;
    return PartOrigin{*size, *modified, std::move(*host), std::move(*path)};
}

std::string WhyStartAfresh(const std::optional<PartOrigin>& saved, std::int64_t partSize,
                           const PartOrigin& now) {
    if (partSize <= 0) return "no part from an earlier run";
    if (!saved) return "the part's record is missing or unreadable";
    if (saved->host != now.host || saved->path != now.path)
        return "the part is of another file (" + saved->host + saved->path + ")";
    if (saved->size != now.size)
        return "the file on the server changed size (" + std::to_string(saved->size) + ", now " +
               std::to_string(now.size) + " bytes)";
    if (saved->modified != now.modified) return "the file on the server has a new time";
    if (partSize > now.size) return "the part is larger than the file";
    return {};
}

}  // namespace talvane::net
