#pragma once
// The names of the launcher's temporary parts, shared by both platforms: ".~tv<pid>-<n>.part"
// beside the file being written, so that a later run can tell its own leftovers from anything
// else in a folder.
#include <string>

namespace talvane::platform {

std::string TempName(unsigned long long processId, unsigned long long counter);
bool IsTempName(const std::string& name);

}  // namespace talvane::platform
