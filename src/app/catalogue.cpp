// The configuration-set catalogue: the subscriber's sets in comboConfigs.
#include "app/catalogue.h"
#include "common/log.h"
#include "common/strings.h"
#include "app/main_presenter.h"
#include "app/views.h"

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

void SelectListedConfig(ui::ConfigListView& view, const std::string& stored) {
    if (stored.empty()) return;
    for (const std::string& item : view.Configs()) {
        if (EqualsNoCase(item, stored)) {
            view.SetConfigText(stored);
            return;
        }
    }
}

void FillConfigList(cFTP& ftp, ui::ConfigListView& view, const std::string& storedDefault) {
    const Catalogue catalogue = ListCatalogue(ftp);
    view.ClearConfigs();
    for (const std::string& entry : catalogue.entries) view.AddConfig(entry);
    if (catalogue.placeholder) view.SetConfigText(kPlaceholderConfig);
    SelectListedConfig(view, storedDefault);
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
    FillConfigList(mFTP_, view_, StoredDefaultConfig());
    mFTP_.CloseConnection();
    return true;
}

}  // namespace talvane::ui
