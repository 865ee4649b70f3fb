#pragma once
// What a download cut short leaves for the next run: its bytes in a part file
// beside the target, and a small record of the server's file they belong to.
// The next run continues the part only while the server's file is that one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/ftp_session.h"

namespace talvane::net {

// The server's file a part was begun from.
struct PartOrigin {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970
    std::string host;           // as signed in to, with its port
    std::string path;           // absolute on that server
};

std::string PartPath(const std::string& target);    // "<target>.partial"
std::string OriginPath(const std::string& target);  // "<target>.partial.info"

std::string FormatOrigin(const PartOrigin& origin);
// Empty for text FormatOrigin did not write.
std::optional<PartOrigin> ParseOrigin(std::string_view text);

// Empty when a part of `partSize` bytes (-1: none) begun from `saved` continues
// the server's file `now`; otherwise why it starts afresh.
std::string WhyStartAfresh(const std::optional<PartOrigin>& saved, std::int64_t partSize,
                           const PartOrigin& now);

}  // namespace talvane::net
