// Earlier tool versions: the list and "Run Previous Ver".
#include "common/app_paths.h"
#include "common/files.h"
#include "common/names.h"
#include "common/process.h"
#include "common/strings.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "app/unzip.h"
#include "zip/zip_reader.h"
#include "app/main_presenter.h"

namespace talvane::ui {

void MainPresenter::ListPreviousVersions() {
    if (!OpenRedist()) return;
    mFTP_.SetFTPDirectory("/Redist");
    // The list is not cleared: it is filled once per window.
    if (const cDirList* listing = mFTP_.GetDirectoryListing("Tekmo_*.zip")) {
        for (const cDirItem& item : *listing) view_.AddPreviousVersion(item.Filename);
    }
    mFTP_.CloseConnection();
}

void MainPresenter::RunPrevious() {
    const std::string config = view_.ConfigText();
    if (config.empty()) {
        frontend_.MessageBox("You must select a config first!", AppTitle(), MsgIcon::None);
        return;
    }
    const std::string version = view_.SelectedPreviousVersion();
    if (version.empty()) {
        frontend_.MessageBox("You must select a previous version first!", AppTitle(),
                             MsgIcon::None);
        return;
    }
    FolderLock folderLock;
    if (!RememberChoiceAndClaimFolder(config, folderLock)) return;

    const std::string package = AppPath() + names::kPreviousZip;
    FetchPackage(package, Trim(version), "Problem downloading Tekmo!");

    if (!UnpackPackage(package, Trim(version))) Unload(1);
    const std::string& extractFolder = session_.ExtractFolder;
    SyncConfig(view_.Text(MainField::User), view_.Text(MainField::Password),
               view_.Text(MainField::ZipPassword), view_.ConfigText());
    DeleteFileQuiet(package);
    StartUnpacked(extractFolder + "/" + names::kTekmoExe + names::kExeSuffix, "");
    Unload();
}

}  // namespace talvane::ui
