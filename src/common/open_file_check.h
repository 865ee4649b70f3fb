#pragma once
// The open-file dialog's check on OK: a chosen name must be an existing file.
#include <string>

namespace talvane {

// Empty when `fullPath` names an existing file that is not a folder; otherwise
// the text of the message box that keeps the dialog open.
std::string OpenFileProblem(const std::string& fullPath);

}  // namespace talvane
