#include "app/messages.h"

#include "common/log.h"

namespace talvane::app {

void ReportSettingsNotSaved(Frontend& frontend, const std::string& settingsFile) {
    DPrint("settings could not be written to " + settingsFile);
    frontend.MessageBox(std::string("The settings could not be saved to ") + settingsFile + "." +
                            kLineBreak +
                            "Check that the program folder can be written to and that the file (or "
                            "the link in its place) belongs to you.",
                        AppTitle(), MsgIcon::Exclamation);
}

namespace {
// "VelmoraUpdates.zip from host:port" for a URL, without its credentials.
std::string FileAndHost(const std::string& url) {
    const std::size_t scheme = url.find("://");
    std::string rest = scheme == std::string::npos ? url : url.substr(scheme + 3);
    const std::size_t slash = rest.find('/');
    std::string host = rest.substr(0, slash);
    if (const std::size_t at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
    std::string path = slash == std::string::npos ? "" : rest.substr(slash);
    path = path.substr(0, path.find_first_of("?#"));
    const std::string file = path.substr(path.rfind('/') + 1);
    return (file.empty() ? "the file" : file) + " from " + host;
}
}  // namespace

void ReportDownloadAborted(Frontend& frontend, const DownloadAbort& abort) {
    std::string text = "Download aborted.";
    if (!abort.description.empty()) text += " " + abort.description;
    text += kLineBreak + FileAndHost(abort.url) + " could not be downloaded; Talvane ends now.";
    DPrint("download aborted, code " + std::to_string(abort.number));
    frontend.MessageBox(text, "Download", MsgIcon::Critical);
}

void CloseSideWindows(Frontend& frontend) {
    if (frontend.Status().IsOpen()) frontend.Status().Close();
    if (frontend.Splash().IsOpen()) frontend.Splash().Close();
}

}  // namespace talvane::app
