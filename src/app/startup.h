#pragma once
// Start-up decisions as plain functions, so they can be tested without windows.
#include <optional>
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

// What the user is told when the settings file is there but cannot be read; nothing
// when it can be read or does not exist. The program then ends with exit code 1:
// running on would drop the endpoints and the public key it holds.
std::optional<std::string> UnreadableSettingsMessage(const std::string& settingsFile);

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
