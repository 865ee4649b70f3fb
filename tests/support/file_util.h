#pragma once
// Small file helpers shared by the transfer tests.
#include <string>
#include <vector>

namespace talvane::testing {

std::string ReadFile(const std::string& path);  // empty when unreadable
// Creates missing parent folders first.
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
// Names in `folder` without "." and ".."; empty when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

}  // namespace talvane::testing
