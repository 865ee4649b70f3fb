#pragma once
// Starting programs. On POSIX the command line is split by the Windows quoting
// rules and started with posix_spawn; no shell is involved.
#include <string>
#include <string_view>
#include <vector>

namespace talvane {

inline constexpr int kShowNormal = 1;
inline constexpr int kHide = 0;

// Returns true if the process was started (and, when waiting, its end seen).
// exitCode is written only when waiting. A program not waited for is detached.
// `standardInput`, when given, is written to the program's standard input.
bool ShellX(std::string_view sPathAndFileName, std::string_view arguments, bool wait,
            int windowStyle, long* exitCode = nullptr, bool unused = false,
            const std::string* standardInput = nullptr);
bool ShellAndWaitForTermination(std::string_view sShell, int windowStyle, std::string& message,
                                long timeoutMs, bool enforceTimeout);
// Waits `seconds` from the current whole second, pumping events every 100 ms.
void Delay(double seconds);

// CommandLineToArgvW rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace talvane
