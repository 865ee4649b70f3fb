#include "app/config_sync.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "app/messages.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "common/tree_removal.h"
#include "platform/platform.h"

namespace talvane::app {

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

long RunSevenZip(const std::string& program, std::vector<std::string> arguments,
                 const std::string* passwordLine, const std::string* outputFile = nullptr) {
    arguments.insert(arguments.begin(), program);
    const std::optional<long> code = RunAndWait(arguments, passwordLine, outputFile);
    return code ? *code : -1;
}

// 7-Zip's technical listing: the archive's "Name = value" lines, a line of
// dashes, then one block per entry, blocks apart by an empty line. True for a
// 7z archive (a zip's encryption is weak) whose every entry with data is
// encrypted, one at least. A property's last value counts: an entry's own
// lines follow its name.
bool ListsOnlyEncryptedData(std::string_view listing) {
    bool inEntries = false, is7z = false, plain = false;
    int encrypted = 0;
    std::map<std::string, std::string, std::less<>> block;
    const auto endBlock = [&] {
        if (block.empty()) return;
        if (block["Encrypted"] == "+") {
            ++encrypted;
        } else if (block["Size"] != "0") {
            plain = true;
        }
        block.clear();
    };
    while (!listing.empty()) {
        const std::size_t end = std::min(listing.find('\n'), listing.size());
        std::string_view line = listing.substr(0, end);
        listing.remove_prefix(std::min(end + 1, listing.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!inEntries) {
            inEntries = line == "----------";
            if (line.rfind("Type = ", 0) == 0) is7z = line == "Type = 7z";
        } else if (line.empty()) {
            endBlock();
        } else if (const std::size_t equals = line.find(" = "); equals != std::string_view::npos) {
            block[std::string(line.substr(0, equals))] = line.substr(equals + 3);
        }
    }
    endBlock();
    return is7z && encrypted > 0 && !plain;
}

}  // namespace

void ConfigSync::ShowStatus(const std::string& label) {
    if (context_.unattended) context_.frontend.Status().SetLabel(label);
}

std::string ConfigSync::FetchArchives(const Credentials& credentials, std::string configName) {
    Transfers& transfers = context_.transfers;
    net::FtpSession& ftp = transfers.Ftp();
    if (context_.unattended) context_.frontend.Splash().Show();

    if (!transfers.OpenRepository(credentials.user, credentials.password)) {
        const std::string signIn = "Could not sign in to " + transfers.Hosts().RepositoryHost +
                                   " as " + credentials.user + ".";
        const std::string reason = transfers.LastError("");
        context_.frontend.MessageBox(reason.empty() ? signIn : reason + kLineBreak + signIn,
                                     "Error Opening Connection!", MsgIcon::None);
        transfers.Close();
        return configName;
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
    if (!transfers.FetchWhole(WorkPath() + names::kConfigArchive, configName + ".7z")) {
        const std::string reason = transfers.LastError("The server did not send it.");
        context_.frontend.MessageBox("The configuration set \"" + configName +
                                         "\" could not be downloaded." + kLineBreak + reason,
                                     AppTitle(), MsgIcon::None);
    } else {
        ftp.ChangeFolder("/");
        ftp.ChangeFolder("/Tekmo/Defs");
        // The definitions are the maker's, signed like its other files.
        const std::string defs = WorkPath() + names::kDefsArchive;
        if (transfers.FetchWhole(defs, names::kDefsArchive) && context_.signatures.Required() &&
            !context_.signatures.FtpFile(defs, names::kDefsArchive))
            definitionsRefused_ = true;
    }
    transfers.Close();
    return configName;
}

// Without encryption anyone who can put a file in the subscriber's folder could
// make the set, and 7-Zip would unpack it without a word.
bool ConfigSync::IsEncryptedSet(const std::string& scratch, const std::string& zipPassword,
                                const std::string& configName) {
    const std::string listingFile = scratch + "/.listing";
    const std::string passwordLine = zipPassword + "\n";
    const long exitCode =
        RunSevenZip(sevenZip_.Program(), SevenZipListArguments(WorkPath() + names::kConfigArchive),
                    &passwordLine, &listingFile);
    std::string listing;
    ReadWholeFile(listingFile, listing);
    DeleteFileQuiet(listingFile);
    if (exitCode < 0 || exitCode >= kSevenZipFirstError) {
        DPrint("7zip could not list tekmo_Config.7z (errorlevel " + std::to_string(exitCode) +
               "); nothing moved into the tool tree");
        return false;
    }
    if (ListsOnlyEncryptedData(listing)) return true;
    DPrint("configuration set " + configName + " refused: not encrypted");
    if (!refusalShown_) {
        refusalShown_ = true;
        CloseSideWindows(context_.frontend);
        context_.frontend.MessageBox("The configuration set \"" + configName +
                                         "\" is not encrypted (a 7z archive with a password), so "
                                         "anyone able to put a file in its folder on the "
                                         "server could have made it." +
                                         kLineBreak + "Nothing from it was unpacked.",
                                     AppTitle(), MsgIcon::Critical);
    }
    return false;
}

bool ConfigSync::Decrypt(const std::string& scratch, const std::string& zipPassword,
                         const std::string& configName) {
    const std::string configArchive = WorkPath() + names::kConfigArchive;
    if (context_.signatures.Required() && !IsEncryptedSet(scratch, zipPassword, configName)) {
        DeleteFileQuiet(configArchive);
        return false;
    }
    context_.frontend.SetActivity("Decrypting configuration");
    DPrint("7zip arguments: x \"" + configArchive + "\" -o\"" + scratch + "\" -y -p****");
    const std::string passwordLine = zipPassword + "\n";
    const long exitCode = RunSevenZip(
        sevenZip_.Program(), SevenZipExtractArguments(configArchive, scratch), &passwordLine);
    DPrint("7zip (tekmo_Config.7z) returned errorlevel " + std::to_string(exitCode));
    DeleteFileQuiet(configArchive);
    if (exitCode >= 0 && exitCode < kSevenZipFirstError) return true;
    // A failed decryption (wrong password) can leave files of garbage
    // behind; none of it may reach the tool tree.
    DPrint("configuration set not extracted; nothing moved into the tool tree");
    return false;
}

bool ConfigSync::MoveIntoTree(const std::string& scratch) {
    const std::string& extractFolder = tree_;
    const std::string innerZip = scratch + "/" + names::kInnerConfigZip;
    if (DoesFileExist(innerZip) && !IsSymbolicLink(innerZip))
        UnzipFile(&context_.frontend, innerZip, scratch);
    ShowStatus("Copying Files...");

    // What 7-Zip unpacked may hold links (to anywhere); none is taken along or followed.
    if (DoesDirExist(scratch + "/Ketarin")) {
        const std::string target = extractFolder + "/3rd Party Tools/Ketarin";
        MakeSureDirExists(target);
        MoveFromStaging(scratch, "Ketarin/*.db", target);
    }
    if (DoesDirExist(scratch + "/Scripts")) MoveFromStaging(scratch, "Scripts", extractFolder);
    if (DoesDirExist(scratch + "/Defs")) {
        MakeSureDirExists(extractFolder + "/Modules");
        MoveFromStaging(scratch, "Defs", extractFolder + "/Modules");
    }
    // This run's own result: its set brought the tool's settings and they are in place.
    const bool brought = DoesFileExist(scratch + "/Config/Tekmo.ini");
    if (DoesDirExist(scratch + "/Config")) MoveFromStaging(scratch, "Config", extractFolder);
    return brought && !DoesFileExist(scratch + "/Config/Tekmo.ini") &&
           DoesFileExist(extractFolder + "/Config/Tekmo.ini");
}

void ConfigSync::DeployDefinitions(const std::string& scratch) {
    const std::string defsArchive = WorkPath() + names::kDefsArchive;
    if (!DoesFileExist(defsArchive)) return;
    ShowStatus("Extracting Defs...");
    // Unpacked beside the program first: 7-Zip would follow a link in the tree,
    // the move into the tree does not.
    const std::string defsStaging = scratch + "/.defs";
    MakeSureDirExists(defsStaging);
    const long defsExit = RunSevenZip(sevenZip_.Program(),
                                      SevenZipExtractArguments(defsArchive, defsStaging), nullptr);
    DPrint("7zip (tekmo_Defs.7z) returned errorlevel " + std::to_string(defsExit));
    MoveFromStaging(scratch, ".defs/*", tree_ + "/Modules/Defs");
    DeleteFileQuiet(defsArchive);
}

ConfigSync::Result ConfigSync::Run(const Credentials& credentials, std::string configName) {
    const std::string appPath = WorkPath();
    const std::string scratch = appPath + names::kSyncTemp;
    definitionsRefused_ = false;
    if (configName.empty()) configName = "Default";
    // A run that was cut short can leave archives and a scratch folder behind;
    // they may hold another set, and must never be taken for this one.
    DeleteFileQuiet(appPath + names::kConfigArchive);
    DeleteFileQuiet(appPath + names::kDefsArchive);
    if (DoesDirExist(scratch)) RemoveTree(scratch);
    configName = FetchArchives(credentials, configName);
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
    const std::string& extractFolder = tree_;
    ReplaceLinkedFolders(extractFolder);
    MakeSureDirExists(extractFolder + "/Modules/Defs");

    const bool deployed =
        Decrypt(scratch, credentials.zipPassword, configName) && MoveIntoTree(scratch);
    DeployDefinitions(scratch);

    ShowStatus("Cleaning Up...");
    RemoveTree(scratch);
    RemoveTree(appPath + names::kSevenZipFolder);
    if (context_.unattended) status.Close();
    return deployed ? Result::Deployed : Result::NotDeployed;
}

}  // namespace talvane::app
