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

}  // namespace

std::string PartPath(const std::string& target) {
    return target + ".partial";
}

std::string OriginPath(const std::string& target) {
    return target + ".partial.info";
}

std::string FormatOrigin(const PartOrigin& origin) {
    return "size " + std::to_string(origin.size) + "\nmodified " + std::to_string(origin.modified) +
           "\n";
}

std::optional<PartOrigin> ParseOrigin(std::string_view text) {
    const auto size = TakeField(text, "size");
    const auto modified = size ? TakeField(text, "modified") : std::nullopt;
    if (!modified || !text.empty()) return std::nullopt;
    return PartOrigin{*size, *modified};
}

std::string WhyStartAfresh(const std::optional<PartOrigin>& saved, std::int64_t partSize,
                           const PartOrigin& now) {
    if (partSize <= 0) return "no part from an earlier run";
    if (!saved) return "the part's record is missing or unreadable";
    if (saved->size != now.size)
        return "the file on the server changed size (" + std::to_string(saved->size) + ", now " +
               std::to_string(now.size) + " bytes)";
    if (saved->modified != now.modified) return "the file on the server has a new time";
    if (partSize > now.size) return "the part is larger than the file";
    return {};
}

}  // namespace talvane::net
