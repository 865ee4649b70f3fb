#pragma once
#include <string>

namespace talvane::ui {

class Frontend;

// The one entry for unpacking in the workflows: the status window names the
// archive while it is unpacked, unless `frontend` is null (a silent run).
// `firstError`, when given, receives the first problem met (it names the entry).
bool UnzipFile(Frontend* frontend, const std::string& zipPath, const std::string& destination,
               std::string* firstError = nullptr);

}  // namespace talvane::ui
