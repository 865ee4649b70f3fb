#include "app/config_sync.h"

#include "app/catalogue.h"
#include "app/messages.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/fso.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "platform/platform.h"

namespace talvane::ui {

namespace {

// 7-Zip: 0 success, 1 warning (files written), 2 and above an error.
constexpr long kSevenZipFirstError = 2;

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

long RunSevenZip(const std::string& program, const std::string& archive,
                 const std::string& outFolder, const std::string* passwordLine) {
    std::vector<std::string> argv{program};
    for (std::string& arg : SevenZipExtractArguments(archive, outFolder))
        argv.push_back(std::move(arg));
    const std::optional<long> code = RunAndWait(argv, passwordLine);
    return code ? *code : -1;
}

}  // namespace

void ConfigSync::ShowStatus(const std::string& label) {
    if (context_.unattended) context_.frontend.Status().SetLabel(label);
}

void ConfigSync::FetchArchives(const Credentials& credentials, std::string configName) {
    Transfers& transfers = context_.transfers;
    FtpSession& ftp = transfers.Ftp();
    if (context_.unattended) context_.frontend.Splash().Show();

    if (!transfers.OpenRepository(credentials.user, credentials.password)) {
        const std::string reason =
            transfers.LastError("Could not sign in to " + transfers.Hosts().RepositoryHost + ".");
        context_.frontend.MessageBox(reason, "Error Opening Connection!", MsgIcon::None);
        transfers.Close();
        return;
    }
    if (!ftp.ChangeFolder("/Tekmo/ConfigSets")) {
        // An account from before configuration sets: give it the folders and
        // fetch its single archive from the login folder.
        ftp.MakeFolder("Tekmo");
        ftp.ChangeFolder("Tekmo");
        ftp.MakeFolder("ConfigSets");
        ftp.MakeFolder("Defs");
        ftp.ChangeFolder("/");
        configName = "Tekmo_Config";
    }
    if (!transfers.FetchWhole(AppPath() + names::kConfigArchive, configName + ".7z")) {
        const std::string reason = transfers.LastError("The server did not send it.");
        context_.frontend.MessageBox("The configuration set \"" + configName +
                                         "\" could not be downloaded." + kLineBreak + reason,
                                     AppTitle(), MsgIcon::None);
    } else {
        ftp.ChangeFolder("/");
        ftp.ChangeFolder("/Tekmo/Defs");
        transfers.FetchWhole(AppPath() + names::kDefsArchive, names::kDefsArchive);
    }
    transfers.Close();
}

bool ConfigSync::Decrypt(const std::string& scratch, const std::string& zipPassword) {
    const std::string configArchive = AppPath() + names::kConfigArchive;
    DPrint("7zip arguments: x \"" + configArchive + "\" -o\"" + scratch + "\" -y -p****");
    const std::string passwordLine = zipPassword + "\n";
    const long exitCode = RunSevenZip(sevenZip_.Program(), configArchive, scratch, &passwordLine);
    DPrint("7zip (tekmo_Config.7z) returned errorlevel " + std::to_string(exitCode));
    DeleteFileQuiet(configArchive);
    if (exitCode >= 0 && exitCode < kSevenZipFirstError) return true;
    // A failed decryption (wrong password) can leave files of garbage
    // behind; none of it may reach the tool tree.
    DPrint("configuration set not extracted; nothing moved into the tool tree");
    return false;
}

bool ConfigSync::MoveIntoTree(const std::string& scratch) {
    const std::string& extractFolder = context_.session.ExtractFolder;
    const std::string innerZip = scratch + "/" + names::kInnerConfigZip;
    if (DoesFileExist(innerZip)) UnzipFile(&context_.frontend, innerZip, scratch);
    ShowStatus("Copying Files...");

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
    return brought && !DoesFileExist(scratch + "/Config/Tekmo.ini") &&
           DoesFileExist(extractFolder + "/Config/Tekmo.ini");
}

void ConfigSync::DeployDefinitions(const std::string& scratch) {
    const std::string defsArchive = AppPath() + names::kDefsArchive;
    if (!DoesFileExist(defsArchive)) return;
    ShowStatus("Extracting Defs...");
    // Unpacked beside the program first: 7-Zip would follow a link in the tree,
    // the move into the tree does not.
    const std::string defsStaging = scratch + "/.defs";
    MakeSureDirExists(defsStaging);
    const long defsExit = RunSevenZip(sevenZip_.Program(), defsArchive, defsStaging, nullptr);
    DPrint("7zip (tekmo_Defs.7z) returned errorlevel " + std::to_string(defsExit));
    ShellMove(defsStaging + "/*", context_.session.ExtractFolder + "/Modules/Defs");
    DeleteFileQuiet(defsArchive);
}

ConfigSync::Result ConfigSync::Run(const Credentials& credentials, std::string configName) {
    const std::string appPath = AppPath();
    const std::string scratch = appPath + names::kSyncTemp;
    if (configName.empty()) configName = StoredDefaultConfig(context_.session);
    if (configName.empty()) configName = "Default";
    // A run that was cut short can leave archives and a scratch folder behind;
    // they may hold another set, and must never be taken for this one.
    DeleteFileQuiet(appPath + names::kConfigArchive);
    DeleteFileQuiet(appPath + names::kDefsArchive);
    clsFSO fso;
    if (DoesDirExist(scratch)) fso.KillDir(scratch);
    FetchArchives(credentials, configName);
    sevenZipState_ = sevenZip_.Ensure();
    if (sevenZipState_ != SevenZipSupply::State::Ready) {
        DeleteFileQuiet(appPath + names::kConfigArchive);
        DeleteFileQuiet(appPath + names::kDefsArchive);
        return Result::NoSevenZip;
    }

    StatusView& status = context_.frontend.Status();
    if (context_.unattended) {
        status.SetCaption("Please Wait...");
        status.SetLabel("Extracting Config...");
        status.Show();
    }
    MakeSureDirExists(scratch);
    // The decrypted set sits here until it is moved: for the owner's eyes only.
    if (int err = platform::RestrictToOwner(scratch))
        DPrint("SyncTemp could not be restricted to its owner: " + platform::ErrorText(err));
    const std::string& extractFolder = context_.session.ExtractFolder;
    ReplaceLinkedFolders(extractFolder);
    MakeSureDirExists(extractFolder + "/Modules/Defs");

    const bool deployed = Decrypt(scratch, credentials.zipPassword) && MoveIntoTree(scratch);
    DeployDefinitions(scratch);

    ShowStatus("Cleaning Up...");
    fso.KillDir(scratch);
    fso.KillDir(appPath + names::kSevenZipFolder);
    if (context_.unattended) status.Close();
    return deployed ? Result::Deployed : Result::NotDeployed;
}

}  // namespace talvane::ui
