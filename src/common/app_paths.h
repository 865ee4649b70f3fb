#pragma once
#include <string>

namespace talvane {

// Folder of the running executable, always ending in '/'.
std::string AppPath();
// AppPath() + executable name (no extension on POSIX).
std::string AppExePath();
// Executable name without extension ("Talvane").
std::string AppExeName();
// Settings file path, set by InitAppSettings.
const std::string& AppINI();
// Sets AppINI (when bSetAppINI) and writes the start banner.
void InitAppSettings(bool bSetAppINI, bool bINIInAppFolder);

// Tests and tools may pretend the program lives elsewhere (path of the executable file).
void OverrideExecutablePath(const std::string& exePath);

}  // namespace talvane
