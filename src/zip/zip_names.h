#pragma once
// Entry names as the reader sees them: decoded to UTF-8, refused when they could
// leave the destination, shown with forward slashes; and the file modes a record carries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip_format.h"

namespace talvane::zipimpl {

// The stored name `raw` as UTF-8: as it stands when `flags` has the UTF-8 bit; the
// Info-ZIP Unicode Path field of `extra` when it was made for this very name; `raw`
// itself when it is valid UTF-8; otherwise decoded from code page 437, where a '\'
// that ends a Shift-JIS double-byte character becomes U+FF3C so it splits no name.
std::string DecodeName(std::string_view raw, std::uint16_t flags, std::string_view extra);

// `folder` and `name` joined by one '/', for messages.
std::string JoinForText(const std::string& folder, const std::string& name);

// The name with every '\' turned into '/'.
std::string WithSlashes(std::string name);

// Splits an entry name at '/' and '\'. Empty and "." components are dropped.
// nullopt for names that could land outside the destination or are no file name:
// a leading separator, a drive letter, a ".." component, a NUL byte, no last component.
std::optional<std::vector<std::string>> SplitSafeName(const std::string& name);

// Permission bits for a new file: the recorded Unix bits without set-id, sticky or
// group/other write; otherwise the default. The process umask applies on top.
unsigned FileMode(const zipfmt::CentralRecord& cr);

// The Unix mode bits as recorded, for listings; 0 when a non-Unix host made the entry.
unsigned RecordedMode(const zipfmt::CentralRecord& cr);

}  // namespace talvane::zipimpl
