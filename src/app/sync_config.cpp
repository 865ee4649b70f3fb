// Configuration synchronisation: fetch the set and the definitions, decrypt
// with 7-Zip, move the parts into the tool tree, clean up.
#include "common/app_paths.h"
#include "common/files.h"
#include "common/fso.h"
#include "common/log.h"
#include "platform/platform.h"
#include "common/names.h"
#include "common/process.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "app/unzip.h"
#include "zip/zip_reader.h"
#include "app/main_presenter.h"

namespace talvane::ui {

namespace {
// 7-Zip: 0 success, 1 warning (files written), 2 and above an error.
constexpr long kSevenZipFirstError = 2;
constexpr long kNotStarted = -1;
}  // namespace

void MainPresenter::FetchConfigArchives(const std::string& user, const std::string& password,
                                        std::string& configName) {
    if (commandMode_) frontend_.Splash().Show();

    if (!mFTP_.OpenConnection(endpoints_.RepositoryHost, user, password)) {
        std::string reason = mFTP_.GetLastErrorMessage();
        if (reason.empty()) reason = "Could not sign in to " + endpoints_.RepositoryHost + ".";
        frontend_.MessageBox(reason, "Error Opening Connection!", MsgIcon::None);
        mFTP_.CloseConnection();
        return;
    }
    if (!mFTP_.SetFTPDirectory("/Tekmo/ConfigSets")) {
        // An account from before configuration sets: give it the folders and
        // fetch its single archive from the login folder.
        mFTP_.CreateFTPDirectory("Tekmo");
        mFTP_.SetFTPDirectory("Tekmo");
        mFTP_.CreateFTPDirectory("ConfigSets");
        mFTP_.CreateFTPDirectory("Defs");
        mFTP_.SetFTPDirectory("/");
        configName = "Tekmo_Config";
    }
    if (!FetchWhole(AppPath() + names::kConfigArchive, configName + ".7z")) {
        std::string reason = mFTP_.GetLastErrorMessage();
        if (reason.empty()) reason = "The server did not send it.";
        frontend_.MessageBox("The configuration set \"" + configName +
                                 "\" could not be downloaded." + kLineBreak + reason,
                             AppTitle(), MsgIcon::None);
    } else {
        mFTP_.SetFTPDirectory("/");
        mFTP_.SetFTPDirectory("/Tekmo/Defs");
        FetchWhole(AppPath() + names::kDefsArchive, names::kDefsArchive);
    }
    mFTP_.CloseConnection();
}

namespace {
// Folders of the tool tree the sync writes into. One that is a symbolic link
// would take the files elsewhere: the link is removed and a folder made.
void ReplaceLinkedFolders(const std::string& extractFolder) {
    for (const char* rel : {"Config", "Scripts", "Modules", "Modules/Defs", "3rd Party Tools",
                            "3rd Party Tools/Ketarin"}) {
        const std::string path = extractFolder + "/" + rel;
        if (!IsSymbolicLink(path)) continue;
        DPrint("the tool tree held a link at " + path + "; replaced by a folder");
        DeleteFileQuiet(path);
    }
}
}  // namespace

bool MainPresenter::SyncConfig(std::string user, std::string password, std::string zipPassword,
                               std::string configName) {
    const std::string appPath = AppPath();
    const std::string& extractFolder = session_.ExtractFolder;
    const std::string scratch = appPath + names::kSyncTemp;
    const std::string configArchive = appPath + names::kConfigArchive;
    const std::string defsArchive = appPath + names::kDefsArchive;
    const std::string defsTarget = extractFolder + "/Modules/Defs";
    StatusView& status = frontend_.Status();

    if (configName.empty()) {
        configName = ReadIniValue(session_.SettingsFile, names::kSettingsSection, "DefaultConfig");
        if (configName.empty()) configName = "Default";
    }
    // A run that was cut short can leave archives and a scratch folder behind;
    // they may hold another set, and must never be taken for this one.
    DeleteFileQuiet(configArchive);
    DeleteFileQuiet(defsArchive);
    clsFSO fso;
    if (DoesDirExist(scratch)) fso.KillDir(scratch);
    FetchConfigArchives(user, password, configName);
    EnsureSevenZip();
    const std::string sevenZip = SevenZipProgram();

    if (commandMode_) {
        status.SetCaption("Please Wait...");
        status.SetLabel("Extracting Config...");
        status.Show();
    }
    MakeSureDirExists(scratch);
    // The decrypted set sits here until it is moved: for the owner's eyes only.
    if (int err = platform::RestrictToOwner(scratch))
        DPrint("SyncTemp could not be restricted to its owner: " + platform::ErrorText(err));
    ReplaceLinkedFolders(extractFolder);
    MakeSureDirExists(defsTarget);

    long exitCode = kNotStarted;
    bool deployed = false;
    DPrint("7zip arguments: " + SevenZipExtractArguments(configArchive, scratch) + " -p****");
    const std::string passwordLine = zipPassword + "\n";
    if (!ShellX(sevenZip, SevenZipExtractArguments(configArchive, scratch), true, kShowNormal,
                &exitCode, false, &passwordLine)) {
        exitCode = kNotStarted;
    }
    DPrint("7zip (tekmo_Config.7z) returned errorlevel " + std::to_string(exitCode));

    if (exitCode >= 0 && exitCode < kSevenZipFirstError) {
        const std::string innerZip = scratch + "/" + names::kInnerConfigZip;
        if (DoesFileExist(innerZip)) UnzipFile(&frontend_, innerZip, scratch);
        if (commandMode_) status.SetLabel("Copying Files...");

        if (DoesDirExist(scratch + "/Ketarin")) {
            const std::string target = extractFolder + "/3rd Party Tools/Ketarin";
            MakeSureDirExists(target);
            ShellMove(scratch + "/Ketarin/*.db", target);
        }
        if (DoesDirExist(scratch + "/Scripts")) ShellMove(scratch + "/Scripts", extractFolder);
        if (DoesDirExist(scratch + "/Defs")) {
            MakeSureDirExists(extractFolder + "/Modules");
            ShellMove(scratch + "/Defs", extractFolder + "/Modules");
        }
        // This run's own result: its set brought the tool's settings and they are in place.
        const bool brought = DoesFileExist(scratch + "/Config/Tekmo.ini");
        if (DoesDirExist(scratch + "/Config")) ShellMove(scratch + "/Config", extractFolder);
        deployed = brought && !DoesFileExist(scratch + "/Config/Tekmo.ini") &&
                   DoesFileExist(extractFolder + "/Config/Tekmo.ini");
    } else {
        // A failed decryption (wrong password) can leave files of garbage
        // behind; none of it may reach the tool tree.
        DPrint("configuration set not extracted; nothing moved into the tool tree");
    }
    DeleteFileQuiet(configArchive);

    if (DoesFileExist(defsArchive)) {
        if (commandMode_) status.SetLabel("Extracting Defs...");
        long defsExit = kNotStarted;
        // Unpacked beside the program first: 7-Zip would follow a link in the tree,
        // the move into the tree does not.
        const std::string defsStaging = scratch + "/.defs";
        MakeSureDirExists(defsStaging);
        if (!ShellX(sevenZip, SevenZipExtractArguments(defsArchive, defsStaging), true,
                    kShowNormal, &defsExit)) {
            defsExit = kNotStarted;
        }
        DPrint("7zip (tekmo_Defs.7z) returned errorlevel " + std::to_string(defsExit));
        ShellMove(defsStaging + "/*", defsTarget);
        DeleteFileQuiet(defsArchive);
    }

    if (commandMode_) status.SetLabel("Cleaning Up...");
    fso.KillDir(scratch);
    fso.KillDir(appPath + names::kSevenZipFolder);
    if (commandMode_) status.Close();
    return deployed;
}

}  // namespace talvane::ui
