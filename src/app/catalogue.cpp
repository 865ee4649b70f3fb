// The configuration-set catalogue: the subscriber's sets in comboConfigs.
#include "app/catalogue.h"
#include "common/log.h"
#include "common/strings.h"
#include "app/main_presenter.h"

namespace talvane {

Catalogue ListCatalogue(cFTP& ftp) {
    Catalogue catalogue;
    if (const cDirList* listing = ftp.GetDirectoryListing("*.*")) {
        for (const cDirItem& item : *listing)
            catalogue.entries.push_back(Strip(item.Filename, ".7z"));
    }
    if (catalogue.entries.empty()) {
        catalogue.entries.emplace_back(kPlaceholderConfig);
        catalogue.placeholder = true;
    }
    return catalogue;
}

}  // namespace talvane

namespace talvane::ui {

bool MainPresenter::RefreshConfigList() {
    if (!mFTP_.OpenConnection(endpoints_.RepositoryHost, view_.Text(MainField::User),
                              view_.Text(MainField::Password))) {
        return false;
    }
    // Without the folder the login folder is listed instead (accounts from
    // before configuration sets keep theirs there).
    mFTP_.SetFTPDirectory("/Tekmo/ConfigSets");
    FillConfigCombo();
    mFTP_.CloseConnection();
    return true;
}

void MainPresenter::FillConfigCombo() {
    const Catalogue catalogue = ListCatalogue(mFTP_);
    view_.ClearConfigs();
    for (const std::string& entry : catalogue.entries) view_.AddConfig(entry);
    if (catalogue.placeholder) view_.SetConfigText(kPlaceholderConfig);
    SelectDefaultConfig();
}

}  // namespace talvane::ui
