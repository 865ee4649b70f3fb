#include "app/previous_versions.h"

#include "app/config_sync.h"
#include "app/deploy_transaction.h"
#include "app/messages.h"
#include "app/tool_package.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"

namespace talvane::app {

std::vector<std::string> PreviousVersions::List() {
    std::vector<std::string> versions;
    Transfers& transfers = context_.transfers;
    if (!transfers.OpenRedist()) return versions;
    transfers.Ftp().ChangeFolder("/Redist");
    if (const auto listing = transfers.Ftp().List("Tekmo_*.zip")) {
        for (const net::ListingEntry& entry : *listing) versions.push_back(entry.name);
    }
    transfers.Close();
    return versions;
}

Outcome PreviousVersions::Run(const RunRequest& request, const std::string& version) {
    if (request.config.empty()) {
        context_.frontend.MessageBox("You must select a config first!", AppTitle(), MsgIcon::None);
        return Outcome::Stay();
    }
    if (version.empty()) {
        context_.frontend.MessageBox("You must select a previous version first!", AppTitle(),
                                     MsgIcon::None);
        return Outcome::Stay();
    }
    FolderLock folderLock;
    if (!BeginToolRun(context_, request, folderLock)) return Outcome::Stay();

    ToolPackage tool(context_);
    const std::string name = Trim(version);
    // Each version has its own package file, and so its own part.
    const std::string package = WorkPath() + LocalPackageName(name, names::kPreviousZip);
    DropOtherParts(package);
    // Without the server the version already in the tree is what runs.
    const ToolPackage::Fetch fetched =
        tool.FetchFromRedist(package, name, "Problem downloading Tekmo!");
    if (fetched == ToolPackage::Fetch::Failed) return Outcome::End(ExitCode::Failed);
    if (fetched == ToolPackage::Fetch::Unreachable && context_.signatures.Required() &&
        DoesFileExist(package)) {
        // As with Download && Run: a package left by an earlier run cannot be
        // checked without the server, so it is as good as absent.
        DPrint("redistribution host not reachable; an unverified package is not used");
        DeleteFileQuiet(package);
        context_.frontend.MessageBox(
            name +
                " could not be downloaded, and the package left by an earlier run "
                "cannot be checked without the server, so it was not used." +
                kLineBreak + "The Tekmo already in the tool folder is started instead.",
            AppTitle(), MsgIcon::Exclamation);
    }
    DeployTransaction deploy(context_.session.ExtractFolder, WorkPath());
    deploy.Begin();
    if (!tool.Unpack(package, name, deploy.Stage())) return Outcome::End(ExitCode::Failed);
    ConfigSync sync(context_, deploy.Stage());
    const ConfigSync::Result synced = sync.Run(request.credentials, request.config);
    DeleteFileQuiet(package);
    tool.RecordDeploy(deploy.Stage());
    if (!tool.Commit(deploy)) return Outcome::End(ExitCode::Failed);
    if (synced == ConfigSync::Result::NoSevenZip) {
        ReportSevenZipMissing(context_.frontend, sync.SevenZip(), sync.SevenZipState());
        if (sync.SevenZipState() == SevenZipSupply::State::Aborted)
            return Outcome::End(ExitCode::Failed);
    }
    if (!tool.StartTool({})) return Outcome::End(ExitCode::Failed);
    return Outcome::End(sync.Complete(synced) ? ExitCode::Ok : ExitCode::ToolWithoutConfig);
}

}  // namespace talvane::app
