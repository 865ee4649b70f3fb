#include "app/messages.h"

#include "common/log.h"

namespace talvane::ui {

void ReportSettingsNotSaved(Frontend& frontend, const std::string& settingsFile) {
    DPrint("settings could not be written to " + settingsFile);
    frontend.MessageBox(std::string("The settings could not be saved to ") + settingsFile + "." +
                            kLineBreak +
                            "Check that the program folder can be written to and that the file (or "
                            "the link in its place) belongs to you.",
                        AppTitle(), MsgIcon::Exclamation);
}

void ReportDownloadAborted(Frontend& frontend, long number, const std::string& description) {
    std::string text = "Download aborted.";
    if (!description.empty()) text += " " + description;
    DPrint("download aborted, code " + std::to_string(number));
    frontend.MessageBox(text, "Download", MsgIcon::Critical);
}

void CloseSideWindows(Frontend& frontend) {
    if (frontend.Status().IsOpen()) frontend.Status().Close();
    if (frontend.Splash().IsOpen()) frontend.Splash().Close();
}

}  // namespace talvane::ui
