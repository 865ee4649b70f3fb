// The five Kitworks companion installers.
#include <filesystem>
#include <system_error>

#include "common/files.h"
#include "common/log.h"
#include "common/process.h"
#include "common/strings.h"
#include "settings/session.h"
#include "app/main_presenter.h"

namespace talvane::ui {

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

void MainPresenter::InstallCompanion(Installer which) {
    const CompanionRow* row = FindRow(which);
    if (!row) return;
    const std::string setup = session_.ExtractFolder + row->localPath;

    const std::string user = view_.Text(MainField::User);
    if (user.empty()) {
        frontend_.MessageBox("You must enter your Nimbara credentials first!", AppTitle(),
                             MsgIcon::None);
        return;
    }
    MakeSureDirExists(StripEndOfString(setup, "/"));
    if (!DoesFileExist(setup)) {
        const std::string url = endpoints_.SubscriberURL + user + row->remotePath;
        if (!DownloadFile(url, setup, kMaxSetupBytes)) {
            frontend_.MessageBox("Error downloading " + StripPath(setup), AppTitle(),
                                 MsgIcon::None);
            return;
        }
        if (!VerifyHttpDownload(setup, url)) return;
        // A downloaded setup program arrives without the execute bit.
        if (!MakeExecutable(setup)) DPrint("could not mark the setup program executable");
    }
    const bool silent = view_.Checked(MainCheck::SilentInstall);
    ShellX(setup, silent ? "/silent" : "", true, kShowNormal);
}

}  // namespace talvane::ui
