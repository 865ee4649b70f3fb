#pragma once
#include <string>

namespace talvane {

// Folder of the running executable, always ending in '/'.
std::string AppPath();
// AppPath() + executable name (no extension on POSIX).
std::string AppExePath();
// Executable name without extension ("Talvane").
std::string AppExeName();
// The settings file: beside the program, named after it ("Talvane.ini").
std::string SettingsFilePath();
// Writes the start banner to the debug log.
void WriteStartBanner();

// Tests and tools may pretend the program lives elsewhere (path of the executable file).
void OverrideExecutablePath(const std::string& exePath);

}  // namespace talvane
