#include "app/tool_package.h"

#include <memory>
#include <set>
#include <unordered_map>

#include "app/messages.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "platform/file_io.h"
#include "zip/zip_reader.h"

namespace talvane::ui {

bool ClaimProgramFolder(Frontend& frontend, FolderLock& lock) {
    if (lock.TryLock(AppPath())) return true;
    DPrint("another launcher is working in the program folder; request refused");
    frontend.MessageBox(std::string("Another Talvane is already working in this program folder.") +
                            kLineBreak + "Please try again when it has finished.",
                        AppTitle(), MsgIcon::Exclamation);
    return false;
}

bool StartUnpacked(const std::string& program, const std::vector<std::string>& arguments) {
    if (DoesFileExist(program) && !MakeExecutable(program)) {
        DPrint("could not mark the program executable: " + program);
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return StartDetached(argv);
}

DeployManifest ToolPackage::DescribeOnServer(const std::string& remoteName) {
    DeployManifest server;
    server.package = remoteName;
    if (const auto info = context_.transfers.Ftp().FileInfo(remoteName)) {
        server.serverSize = info->size;
        if (info->modified)
            server.serverTime = std::to_string(info->modified->time_since_epoch().count());
    }
    if (context_.signatures.Required())
        server.signature = context_.signatures.SignatureOnServer(remoteName);
    return server;
}

bool ToolPackage::StillDeployed(const DeployManifest& onServer) {
    const std::string& tree = context_.session.ExtractFolder;
    const auto deployed = LoadManifest(tree);
    std::string why;
    if (!deployed)
        why = "no record of an earlier deploy";
    else if (onServer.serverSize < 0 || onServer.serverTime.empty())
        why = "the server gives no size or time for " + onServer.package;
    else if (context_.signatures.Required() && onServer.signature.empty())
        why = "no signature on the server";
    else if (!SamePackageOnServer(*deployed, onServer))
        why = "the package on the server changed";
    else if (const auto changed = ChangedFiles(tree, *deployed); !changed.empty())
        why = std::to_string(changed.size()) + " file(s) in the tool tree changed, " +
              changed.front() + " first";
    if (why.empty()) {
        DPrint("skipped the download: the tool tree holds " + onServer.package +
               " as on the server");
        return true;
    }
    DPrint("downloading " + onServer.package + ": " + why);
    return false;
}

ToolPackage::Fetch ToolPackage::FetchFromRedist(const std::string& package,
                                                const std::string& remoteName,
                                                const std::string& failureMessage,
                                                bool skipDeployed) {
    Transfers& transfers = context_.transfers;
    onServer_.reset();
    if (!transfers.OpenRedist()) return Fetch::Unreachable;
    transfers.Ftp().ChangeFolder("/Redist");
    if (skipDeployed) {
        onServer_ = DescribeOnServer(remoteName);
        if (StillDeployed(*onServer_)) {
            transfers.Close();
            onServer_.reset();
            return Fetch::Unchanged;
        }
    }
    Fetch result = Fetch::Fetched;
    if (!transfers.FetchResumable(package, remoteName)) {
        if (context_.frontend.Splash().IsOpen()) context_.frontend.Splash().Close();
        context_.frontend.MessageBox(failureMessage, AppTitle(), MsgIcon::None);
        result = Fetch::Failed;
    } else if (!context_.signatures.FtpFile(package, remoteName)) {
        result = Fetch::Failed;
    }
    transfers.Close();
    if (result != Fetch::Fetched) onServer_.reset();
    return result;
}

namespace {

// Entries whose file in the tree is the one an earlier deploy wrote, with the
// same size and CRC in the new package: left as they are.
std::function<bool(const ZipEntryInfo&)> KeepUnchanged(const std::string& tree) {
    const auto deployed = LoadManifest(tree);
    if (!deployed) return {};
    const auto changed = ChangedFiles(tree, *deployed);
    const std::set<std::string> touched(changed.begin(), changed.end());
    auto files = std::make_shared<std::unordered_map<std::string, DeployedFile>>();
    for (const DeployedFile& f : deployed->files)
        if (!touched.contains(f.path)) files->emplace(f.path, f);
    return [files](const ZipEntryInfo& entry) {
        const auto path = ZipEntryPath(entry.name);
        if (!path) return false;
        const auto hit = files->find(*path);
        return hit != files->end() && hit->second.size == entry.size &&
               hit->second.crc == entry.crc;
    };
}

}  // namespace

void ToolPackage::RecordDeploy(const std::string& package) {
    const std::string& tree = context_.session.ExtractFolder;
    ZipReader zip;
    bool listed = zip.OpenZip(package);
    listed = listed && zip.ListEntries([&](const ZipEntryInfo& entry) {
        const auto path = ZipEntryPath(entry.name);
        fileio::FileFacts facts;
        if (!path || entry.size == 0) return;
        if (!fileio::StatFile(tree + "/" + *path, facts)) {
            listed = false;  // a file the package holds is not in the tree
            return;
        }
        onServer_->files.push_back(
            {*path, entry.size, entry.crc, static_cast<long long>(facts.modified)});
    });
    if (listed && SaveManifest(tree, *onServer_))
        DPrint("recorded the deploy of " + onServer_->package);
    else
        DPrint("the deploy of " + onServer_->package + " could not be recorded");
}

bool ToolPackage::Unpack(const std::string& package, const std::string& shownName) {
    const std::string& extractFolder = context_.session.ExtractFolder;
    MakeSureDirExists(extractFolder);
    if (!DoesFileExist(package)) {
        // No server, no package: the tool already in the tree is what runs.
        DPrint("no package to unpack; the tool tree stays as it is");
        return true;
    }
    // Parts of an extraction that was killed outright are nobody's any more.
    RemoveStaleParts(extractFolder, true);
    // Until this unpack is complete the tree is no deploy anyone recorded.
    const auto keep =
        onServer_ ? KeepUnchanged(extractFolder) : std::function<bool(const ZipEntryInfo&)>();
    ForgetManifest(extractFolder);
    std::string problem;
    if (UnzipFile(&context_.frontend, package, extractFolder, &problem, keep)) {
        if (onServer_) RecordDeploy(package);
        return true;
    }
    // Nothing of the package reached the tree; a half-new tool is never started.
    DeleteFileQuiet(package);
    CloseSideWindows(context_.frontend);
    context_.frontend.MessageBox("Problem extracting " + shownName + "!" + kLineBreak + problem,
                                 AppTitle(), MsgIcon::Critical);
    return false;
}

bool ToolPackage::StartTool(const std::vector<std::string>& arguments) {
    const std::string program =
        context_.session.ExtractFolder + "/" + names::kTekmoExe + names::kExeSuffix;
    context_.frontend.SetActivity("Starting Tekmo");
    if (StartUnpacked(program, arguments)) return true;
    CloseSideWindows(context_.frontend);
    context_.frontend.MessageBox("Tekmo could not be started from " + program + ".", AppTitle(),
                                 MsgIcon::Critical);
    return false;
}

}  // namespace talvane::ui
