#pragma once
// Folder removal that escalates: tree delete, then reset ownership and access and retry, then
// file by file by the names the folders give. Never follows a symbolic link out.
#include <string_view>

namespace talvane {

enum class Recreate : bool { No, Yes };

// True when nothing is left at `folder`; with Recreate::Yes an empty folder is made there after.
bool RemoveTree(std::string_view folder, Recreate recreate = Recreate::No);

// True when the file is gone, on a second attempt after its ownership and access are reset.
bool RemoveFileForcibly(std::string_view file);

}  // namespace talvane
