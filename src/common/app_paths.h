#pragma once
#include <string>

namespace talvane {

// Folder of the running executable, always ending in '/'.
std::string AppPath();
// AppPath() + executable name (no extension on POSIX).
std::string AppExePath();
// Executable name without extension ("Talvane").
std::string AppExeName();
// The settings file, named after the program ("Talvane.ini"): beside it, or for a program
// installed where its user may not write (Linux), in $XDG_CONFIG_HOME/talvane/.
std::string SettingsFilePath();
// The folder of the settings file and the splash logo, ending in '/'.
std::string SettingsFolder();
// Where downloads, parts, scratch folders and records go, ending in '/': the program folder,
// or for an installed program $XDG_CACHE_HOME/talvane/ (made when missing).
std::string WorkPath();
// Writes the start banner to the debug log.
void WriteStartBanner();

// Tests and tools may pretend the program lives elsewhere (path of the executable file).
void OverrideExecutablePath(const std::string& exePath);

}  // namespace talvane
