// Download && Run: newest tool package, configuration set, start the tool.
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "app/unzip.h"
#include "zip/zip_reader.h"
#include "app/main_presenter.h"

namespace talvane::ui {

namespace {
std::string TekmoProgram(const Session& session) {
    return session.ExtractFolder + "/" + names::kTekmoExe + names::kExeSuffix;
}
}  // namespace

bool MainPresenter::UnpackPackage(const std::string& package, const std::string& shownName) {
    const std::string& extractFolder = session_.ExtractFolder;
    MakeSureDirExists(extractFolder);
    if (!DoesFileExist(package)) {
        // No server, no package: the tool already in the tree is what runs.
        DPrint("no package to unpack; the tool tree stays as it is");
        return true;
    }
    // Parts of an extraction that was killed outright are nobody's any more.
    RemoveStaleParts(extractFolder, true);
    std::string problem;
    if (UnzipFile(&frontend_, package, extractFolder, &problem)) return true;
    // The files already in the tree stay as they were; a half-new tool is not started.
    DeleteFileQuiet(package);
    UnloadOtherForms();
    frontend_.MessageBox("Problem extracting " + shownName + "!" + kLineBreak + problem,
                         AppTitle(), MsgIcon::Critical);
    return false;
}

bool MainPresenter::FetchPackage(const std::string& package, const std::string& remoteName,
                                 const std::string& failureMessage) {
    if (!OpenRedist()) return false;
    mFTP_.SetFTPDirectory("/Redist");
    if (!FetchWhole(package, remoteName)) {
        if (frontend_.Splash().IsOpen()) frontend_.Splash().Close();
        frontend_.MessageBox(failureMessage, AppTitle(), MsgIcon::None);
        Unload();
    }
    if (!VerifyFtpDownload(package, remoteName)) Unload(1);
    mFTP_.CloseConnection();
    return true;
}

bool MainPresenter::RememberChoiceAndClaimFolder(const std::string& config, FolderLock& lock) {
    if (view_.Checked(MainCheck::SaveDefault)) {
        WriteIniValue(session_.SettingsFile, names::kSettingsSection, "DefaultConfig", config);
    }
    return ClaimProgramFolder(lock);
}

void MainPresenter::DownloadAndRun() {
    const std::string config = view_.ConfigText();
    if (config.empty()) {
        frontend_.MessageBox("You must select a config first!", AppTitle(), MsgIcon::None);
        return;
    }
    FolderLock folderLock;
    if (!RememberChoiceAndClaimFolder(config, folderLock)) return;

    const std::string package = AppPath() + names::kTekmoUpdateZip;
    if (FetchPackage(package, names::kTekmoUpdateZip, "Problem downloading tekmo!")) {
        // fetched and checked
    } else if (!session_.PublicKey.empty()) {
        // A package left by an earlier run cannot be checked without the server.
        DPrint("redistribution host not reachable; an unverified package is not used");
        DeleteFileQuiet(package);
    } else {
        DPrint("redistribution host not reachable; looking for a package from an earlier run");
    }

    if (!DoesFileExist(package)) return;

    if (!UnpackPackage(package, "tekmo")) Unload(1);

    bool configured = SyncConfig(view_.Text(MainField::User), view_.Text(MainField::Password),
                                 view_.Text(MainField::ZipPassword), view_.ConfigText());
    Delay(1);

    DeleteFileQuiet(package);
    DeleteFileQuiet(AppPath() + names::kUpdatesZip);
    DeleteFileQuiet(AppPath() + names::kUpdatesIni);

    if (!configured) {
        configured = SyncConfig(view_.Text(MainField::User), view_.Text(MainField::Password),
                                view_.Text(MainField::ZipPassword), view_.ConfigText());
        if (!configured) {
            frontend_.MessageBox("Failed two attempts to download/extract config!", AppTitle(),
                                 MsgIcon::None);
        }
    }

    if (commandMode_) frontend_.Splash().Close();
    StartUnpacked(TekmoProgram(session_), view_.Checked(MainCheck::DeleteMe) ? "/deltalvane" : "");
    UnloadOtherForms();
    Unload();
}

}  // namespace talvane::ui
