#pragma once
// What both halves of the platform layer share: no system call here, only the rules both
// follow, so that a fix reaches Windows and POSIX alike.
#include <string>
#include <utility>
#include <vector>

namespace talvane::platform {

// The launcher's temporary parts: ".~tv<pid>-<n>.part" beside the file being written, so
// that a later run can tell its own leftovers from anything else in a folder.
std::string TempName(unsigned long long processId, unsigned long long counter);
bool IsTempName(const std::string& name);

// The folder and the name of `path`: "" as the folder when it holds no '/', "/" for a name at
// the root.
std::pair<std::string, std::string> SplitFolderAndName(const std::string& path);

// The names of `relative` ("a/b/c", empty parts skipped) for a walk that checks one level at a
// time: EINVAL for "." or "..", which would lead around or out of it.
int SplitRelative(const std::string& relative, std::vector<std::string>& names);

}  // namespace talvane::platform
