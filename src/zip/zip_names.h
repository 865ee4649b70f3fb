#pragma once
// Entry names as the reader sees them: refused when they could leave the
// destination, shown with forward slashes; and the file modes a record carries.
#include <optional>
#include <string>
#include <vector>

#include "zip/zip_format.h"

namespace talvane::zipimpl {

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
