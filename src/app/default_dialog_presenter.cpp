#include "app/default_dialog_presenter.h"

#include <utility>

#include "app/catalogue.h"
#include "app/messages.h"
#include "app/splash_logic.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "common/strings.h"
#include "platform/platform.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "settings/stored_settings.h"

namespace talvane::app {

namespace {

std::string LogoPath() {
    return SettingsFolder() + names::kLogoFile;
}

// Copying a file onto itself would truncate it on POSIX; treat it as the
// failed copy it is on Windows.
bool IsSameFile(const std::string& a, const std::string& b) {
    platform::PathId first, second;
    return platform::IdentifyPath(a, first, platform::Links::Follow) == 0 &&
           platform::IdentifyPath(b, second, platform::Links::Follow) == 0 && first == second;
}

}  // namespace

DefaultDialogPresenter::DefaultDialogPresenter(Frontend& frontend, DefaultDialogView& view,
                                               Session& session, Endpoints endpoints)
    : frontend_(frontend), view_(view), session_(session), transfers_(std::move(endpoints)) {}

void DefaultDialogPresenter::Load() {
    const std::string config = StoredDefaultConfig(session_);
    const std::string folder = ReadStored(session_.SettingsFile, StoredKey::DefaultPath);
    view_.SetStoredLine(
        "Stored now: " + (config.empty() ? "Prompt for Config" : config) + ", " +
        (folder.empty() || EqualsNoCase(folder, kDesktopValue) ? "Desktop" : folder));
    RefreshConfigList();
    if (DoesFileExist(LogoPath())) view_.SetLogoLabel("Found!");
}

void DefaultDialogPresenter::RefreshConfigList() {
    // The dialog signs in with the stored credentials; a refused sign-in
    // leaves the list empty and says nothing.
    if (!transfers_.OpenRepository(session_.UserName, session_.Password)) return;
    transfers_.Ftp().ChangeFolder("/Tekmo/ConfigSets");
    FillConfigList(transfers_.Ftp(), view_, StoredDefaultConfig(session_));
    transfers_.Close();
}

void DefaultDialogPresenter::OnSave() {
    const std::string& ini = session_.SettingsFile;
    const std::string config =
        view_.AutoDownloadSelected() ? view_.ConfigText() : std::string(kPromptValue);
    const std::string folder =
        view_.ExtractToFolderSelected() ? view_.FolderText() : std::string(kDesktopValue);
    // A folder too long to be read back whole is refused before anything is written;
    // the dialog stays open for the user to shorten it. (Set names come from the list,
    // which holds none that long.)
    const std::string refused =
        folder.size() > kMaxNameLength
            ? "The folder is longer than " + std::to_string(kMaxNameLength) + " characters."
        : folder.find_first_of("\r\n") != std::string::npos
            ? std::string("The folder holds a line break, which the settings file cannot keep.")
            : std::string();
    if (!refused.empty()) {
        frontend_.MessageBox(refused + kLineBreak + "Nothing was saved.", AppTitle(),
                             MsgIcon::Exclamation);
        return;
    }
    bool saved = SaveDefaultConfig(session_, config);
    saved = WriteStored(ini, StoredKey::DefaultPath, folder) && saved;
    if (!saved) ReportSettingsNotSaved(frontend_, session_.SettingsFile);
    OnClose();
}

void DefaultDialogPresenter::OnImport() {
    const std::string logo = LogoPath();
    const std::string chosen =
        frontend_.OpenFileDialog("Select a supported graphic to import.", "Bitmaps (*.bmp)|*.bmp");
    if (chosen.empty()) {
        if (DoesFileExist(logo)) view_.SetLogoLabel("Found!");
        return;
    }

    // The copy goes straight onto the logo file. Copying under the chosen name
    // first would replace whatever program-folder file has that name (the
    // settings file, the program itself) before the rename took it away. A file
    // that already lies in the program folder would be copied onto itself:
    // that stays the failure it always was.
    const bool inProgramFolder =
        IsSameFile(chosen, SettingsFolder() + StripPath(chosen)) || IsSameFile(chosen, logo);
    // A file that is no picture would be taken for one at every start.
    int width = 0, height = 0;
    std::string problem;
    if (inProgramFolder)
        problem = " lies in the program folder already.";
    else if (!ReadBitmapSize(chosen, width, height))
        problem = " is not a bitmap (BMP) picture.";
    else if (!ShellCopy(chosen, logo))
        problem = " could not be copied to " + logo + ".";
    if (!problem.empty()) {
        frontend_.MessageBox(std::string("Oops, there was a problem importing that logo.") +
                                 kLineBreak + chosen + problem,
                             AppTitle(), MsgIcon::None);
        return;
    }
    if (DoesFileExist(logo)) view_.SetLogoLabel("Found!");
    frontend_.MessageBox("Logo Imported.", AppTitle(), MsgIcon::None);
}

void DefaultDialogPresenter::OnTest() {
    RunSplashDemo(frontend_);
}

void DefaultDialogPresenter::OnComboChange() {
    view_.SelectAutoDownload(true);
}

void DefaultDialogPresenter::OnFolderChange() {
    // Typing a folder chooses it: otherwise Save would write the desktop and
    // drop what was just typed.
    view_.SelectExtractToFolder(true);
}

void DefaultDialogPresenter::OnClose() {
    if (closed_) return;
    closed_ = true;
    transfers_.Close();
    view_.Close();
}

}  // namespace talvane::app
