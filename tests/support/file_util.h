#pragma once
// File and process helpers shared by the tests.
#include <string>
#include <vector>

namespace talvane::testing {

std::string ReadFile(const std::string& path);  // empty when unreadable
// Creates missing parent folders first; true when everything was written.
bool WriteFile(const std::string& path, const std::string& data = "x", unsigned mode = 0644);
inline bool WriteText(const std::string& path, const std::string& text, unsigned mode = 0644) {
    return WriteFile(path, text, mode);
}
bool Exists(const std::string& path);
// Names in `folder`, sorted; empty when it cannot be read.
std::vector<std::string> ListNames(const std::string& folder);
// Sets an environment variable; nullptr removes it.
void SetEnv(const char* name, const char* value);
// The process's peak memory so far, in kB.
long PeakMemoryKb();
// Runs a program (no shell) in `cwd`, its output to `outFile`: the exit status, -1 when it
// could not run or was killed.
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd = {},
               const std::string& outFile = "/dev/null");

}  // namespace talvane::testing
