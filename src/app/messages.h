#pragma once
// Texts and boxes more than one window or workflow shows.
#include <string>

#include "app/frontend.h"

namespace talvane::ui {

// Line break inside message texts (CR LF on Windows).
#ifdef _WIN32
inline constexpr const char* kLineBreak = "\r\n";
#else
inline constexpr const char* kLineBreak = "\n";
#endif

// "%prompt%" and "%desktop%": special setting values, compared without case.
inline constexpr const char* kPromptValue = "%prompt%";
inline constexpr const char* kDesktopValue = "%desktop%";

// Tells the user (and the log) that the settings file could not be written.
void ReportSettingsNotSaved(Frontend& frontend, const std::string& settingsFile);
// "Download aborted." with the transfer's own description, in the "Download" box.
void ReportDownloadAborted(Frontend& frontend, long number, const std::string& description);
// Closes the splash and the status window when they are open.
void CloseSideWindows(Frontend& frontend);

}  // namespace talvane::ui
