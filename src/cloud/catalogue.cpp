// The configuration-set catalogue: the subscriber's sets in comboConfigs.
#include "common/log.h"
#include "common/strings.h"
#include "ui/main_presenter.h"

namespace talvane::ui {

bool MainPresenter::RefreshConfigList() {
    if (!mFTP_.OpenConnection(endpoints_.RepositoryHost, view_.Text(MainField::User),
                              view_.Text(MainField::Password))) {
        return false;
    }
    // Without the folder the login folder is listed instead, by design.
    mFTP_.SetFTPDirectory("/Tekmo/ConfigSets");
    FillConfigCombo();
    mFTP_.CloseConnection();
    return true;
}

void MainPresenter::FillConfigCombo() {
    const cDirList* listing = mFTP_.GetDirectoryListing("*.*");
    view_.ComboClear();
    long count = 0;
    if (listing) {
        for (const cDirItem& item : *listing) {
            ++count;
            view_.ComboAdd(Strip(item.Filename, ".7z"));
        }
    }
    if (count == 0) {
        view_.ComboAdd(kPlaceholderConfig);
        view_.SetComboText(kPlaceholderConfig);
    }
    SelectDefaultConfig();
}

}  // namespace talvane::ui
