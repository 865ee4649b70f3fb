#include "app/installers.h"

#include "app/messages.h"
#include "common/files.h"
#include "common/log.h"
#include "common/process.h"
#include "common/strings.h"

namespace talvane::app {

namespace {

// A companion setup is tens of megabytes; a server sending without end is cut.
constexpr long long kMaxSetupBytes = 1ll << 30;

struct CompanionRow {
    Installer which;
    const char* localPath;   // below ExtractFolder
    const char* remotePath;  // below the subscriber's web folder
};

constexpr CompanionRow kCompanions[] = {
    {Installer::Pellam, "/Modules/Pellam/PellamSetup.exe", "/Pellam/PellamSetup.exe"},
    {Installer::Harlo, "/Modules/Harlo/HarloSetup.exe", "/Harlo/HarloSetup.exe"},
    {Installer::Quorra, "/Modules/Quorra/QuorraSetup.exe", "/Quorra/QuorraSetup.exe"},
    {Installer::Sorvik, "/Modules/Sorvik/SorvikSetup.exe", "/Sorvik/SorvikSetup.exe"},
    {Installer::Umbrin, "/Modules/Umbrin/UmbrinSetup.exe", "/Umbrin/UmbrinSetup.exe"},
};

const CompanionRow* FindRow(Installer which) {
    for (const CompanionRow& row : kCompanions) {
        if (row.which == which) return &row;
    }
    return nullptr;
}

}  // namespace

Outcome CompanionInstaller::Install(Installer which, const std::string& user, bool silent) {
    const CompanionRow* row = FindRow(which);
    if (!row) return Outcome::Stay();
    Frontend& frontend = context_.frontend;
    const std::string setup = context_.session.ExtractFolder + row->localPath;
    if (user.empty()) {
        frontend.MessageBox("You must enter your Nimbara credentials first!", AppTitle(),
                            MsgIcon::None);
        return Outcome::Stay();
    }
    MakeSureDirExists(StripEndOfString(setup, "/"));
    if (!DoesFileExist(setup)) {
        const std::string url = context_.transfers.Hosts().SubscriberURL + user + row->remotePath;
        const UrlDownload got = context_.transfers.Download(url, setup, kMaxSetupBytes);
        if (got.abort) {
            ReportDownloadAborted(frontend, *got.abort);
            return Outcome::End(ExitCode::Failed);
        }
        if (!got.fetched) {
            frontend.MessageBox("Error downloading " + StripPath(setup), AppTitle(), MsgIcon::None);
            return Outcome::Stay();
        }
        if (!context_.signatures.HttpFile(setup, url)) return Outcome::Stay();
        // A downloaded setup program arrives without the execute bit.
        if (!MakeExecutable(setup)) DPrint("could not mark the setup program executable");
    }
    frontend.SetActivity("Running " + StripPath(setup));
    std::vector<std::string> argv{setup};
    if (silent) argv.emplace_back("/silent");
    RunAndWait(argv);
    return Outcome::Stay();
}

}  // namespace talvane::app
