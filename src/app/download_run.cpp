#include "app/download_run.h"

#include "app/busy_retry.h"
#include "app/catalogue.h"
#include "app/config_sync.h"
#include "app/deploy_transaction.h"
#include "app/messages.h"
#include "app/tool_package.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "common/strings.h"
#include "net/partial_download.h"

namespace talvane::app {

bool BeginToolRun(WorkflowContext& context, const RunRequest& request, FolderLock& lock) {
    if (request.config.empty()) {
        context.frontend.MessageBox("You must select a config first!", AppTitle(), MsgIcon::None);
        return false;
    }
    if (request.saveDefault) SaveDefaultConfig(context.session, request.config);
    return ClaimProgramFolder(context.frontend, lock);
}

namespace {
// Without a word the click would seem to do nothing.
// A server that said it was busy is no network to check: it gets its own second line.
void ReportNoPackage(Frontend& frontend, const Error& failure) {
    const bool busy = ServerSaidBusy(failure);
    frontend.MessageBox(std::string("The tekmo download server could not be reached and there is "
                                    "no package from an earlier run.") +
                            kLineBreak +
                            (busy ? "The server was busy: " + EscapeControls(failure.message, false)
                                  : std::string("Check the network connection, then try again.")),
                        AppTitle(), MsgIcon::Exclamation);
}
}  // namespace

Outcome DownloadAndRun::Run() {
    FolderLock folderLock;
    if (!BeginToolRun(context_, request_, folderLock)) return Outcome::Stay();

    ToolPackage tool(context_);
    const std::string package = WorkPath() + names::kTekmoUpdateZip;
    bool unchanged = false, unreachable = false;
    if (!context_.transfers.Hosts().SkipUnchanged)
        DPrint("SkipUnchanged=0: the package is downloaded and unpacked whole");
    // The package and the set are put together beside the tree, which is
    // replaced in one step; a whole package is unpacked there while it arrives.
    DeployTransaction deploy(context_.session.ExtractFolder, WorkPath());
    deploy.Begin();
    const std::string streamInto = deploy.InPlace() ? std::string() : deploy.Stage();
    switch (tool.FetchFromRedist(package, names::kTekmoUpdateZip, "Problem downloading tekmo!",
                                 context_.transfers.Hosts().SkipUnchanged, streamInto)) {
        case ToolPackage::Fetch::Fetched:
            break;
        case ToolPackage::Fetch::Unchanged:
            // A package or part left by an earlier run is not this one, or is
            // what the tree already holds.
            DeleteFileQuiet(package);
            DeleteFileQuiet(net::PartPath(package));
            DeleteFileQuiet(net::OriginPath(package));
            unchanged = true;
            break;
        case ToolPackage::Fetch::Failed:
            return Outcome::End(ExitCode::Failed);
        case ToolPackage::Fetch::Unreachable:
            unreachable = true;
            if (context_.signatures.Required()) {
                // A package left by an earlier run cannot be checked without the server.
                DPrint("redistribution host not reachable; an unverified package is not used");
                DeleteFileQuiet(package);
            } else {
                DPrint(
                    "redistribution host not reachable; looking for a package from an earlier run");
            }
            break;
    }
    if (!unchanged && !tool.HasPackage(package)) {
        if (unreachable) ReportNoPackage(context_.frontend, context_.transfers.LastFailure());
        return Outcome::Stay();
    }
    DropOtherParts(package);
    if (!unchanged && !tool.Unpack(package, "tekmo", deploy.Stage()))
        return Outcome::End(ExitCode::Failed);

    const auto cleanUp = [&] {
        DeleteFileQuiet(package);
        DeleteFileQuiet(WorkPath() + names::kUpdatesZip);
        DeleteFileQuiet(WorkPath() + names::kUpdatesIni);
    };
    ConfigSync sync(context_, deploy.Stage());
    ConfigSync::Result synced = sync.Run(request_.credentials, request_.config);
    if (synced != ConfigSync::Result::NoSevenZip) {
        Delay(1);
        cleanUp();
    }
    if (synced == ConfigSync::Result::NotDeployed) {
        synced = sync.Run(request_.credentials, request_.config);
        if (synced == ConfigSync::Result::NotDeployed) {
            context_.frontend.MessageBox("Failed two attempts to download/extract config!",
                                         AppTitle(), MsgIcon::None);
        }
    }
    tool.RecordDeploy(deploy.Stage());
    if (!tool.Commit(deploy)) return Outcome::End(ExitCode::Failed);
    if (synced == ConfigSync::Result::NoSevenZip) {
        cleanUp();
        // Without 7-Zip the tool starts with the configuration it had, unless the
        // download of 7-Zip was aborted: that ends the run.
        ReportSevenZipMissing(context_.frontend, sync.SevenZip(), sync.SevenZipState());
        if (sync.SevenZipState() == SevenZipSupply::State::Aborted)
            return Outcome::End(ExitCode::Failed);
    }

    if (context_.unattended) context_.frontend.Splash().Close();
    const bool started = tool.StartTool(request_.deleteMe ? std::vector<std::string>{"/deltalvane"}
                                                          : std::vector<std::string>{});
    CloseSideWindows(context_.frontend);
    if (!started) return Outcome::End(ExitCode::Failed);
    return Outcome::End(sync.Complete(synced) ? ExitCode::Ok : ExitCode::ToolWithoutConfig);
}

}  // namespace talvane::app
