#pragma once
// Texts and boxes more than one window or workflow shows.
#include <string>

#include "app/frontend.h"
#include "app/transfers.h"

namespace talvane::app {

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
// "Download aborted." with the transfer's own description, in the "Download" box,
// and a line that names the file and its host and says the program ends.
void ReportDownloadAborted(Frontend& frontend, const DownloadAbort& abort);
// Closes the splash and the status window when they are open.
void CloseSideWindows(Frontend& frontend);

}  // namespace talvane::app
