#pragma once
// Start-up decisions as plain functions, so they can be tested without windows.
#include <string>
#include <string_view>
#include <vector>

namespace talvane {

enum class StartWindow {
    SplashDemo,      // "-splash": splash demonstration, then exit
    MainExpanded,    // credentials incomplete
    DefaultConfig,   // "/setdefault"
    MainUnattended,  // "sfx" anywhere
    MainCompact,     // anything else
};

// What `Talvane --help` prints: the arguments and the exit codes.
const char* UsageText();
// True for "--help", "-h" and "/?".
bool IsHelpRequest(std::string_view commandLine);

// Program arguments joined with single blanks.
std::string JoinCommandLine(const std::vector<std::string>& args);
bool IsSplashDemo(std::string_view commandLine);
StartWindow ChooseStartWindow(std::string_view commandLine, bool credentialsComplete);
const char* StartWindowName(StartWindow w);

// ExtractFolder from DefaultPath: SYSTEMDRIVE (else $HOME) + path + "/tekmo",
// or the public desktop + "/tekmo" for "%desktop%". Backslashes become '/'.
std::string ResolveExtractFolder(std::string_view defaultPath);
std::string CommonDesktopFolder();

// Deletes AppPath + exe name + "_old" when present. Returns true if it deleted one.
bool CleanUpOldExecutable();

}  // namespace talvane
