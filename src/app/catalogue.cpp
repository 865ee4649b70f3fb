#include "app/catalogue.h"

#include <utility>

#include "app/messages.h"
#include "app/views.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "settings/settings.h"
#include "settings/stored_settings.h"

namespace talvane {

namespace {}  // namespace

Catalogue ListCatalogue(net::FtpSession& ftp) {
    Catalogue catalogue;
    if (const auto listing = ftp.List("*.*")) {
        for (const net::ListingEntry& entry : *listing) {
            std::string name = Strip(entry.name, ".7z");
            // A name the settings could not give back whole is never offered: chosen as
            // the default, it would not be found again.
            if (name.size() > kMaxNameLength) {
                DPrint("configuration set not offered: its name has " +
                       std::to_string(name.size()) + " bytes");
                continue;
            }
            catalogue.entries.push_back(std::move(name));
        }
    }
    if (catalogue.entries.empty()) {
        catalogue.entries.emplace_back(kPlaceholderConfig);
        catalogue.placeholder = true;
    }
    return catalogue;
}

std::string StoredDefaultConfig(const Session& session) {
    const std::string stored = ReadStored(session.SettingsFile, StoredKey::DefaultConfig);
    // "%prompt%" asks for a choice: nothing is preselected.
    return EqualsNoCase(stored, app::kPromptValue) ? std::string() : stored;
}

bool SaveDefaultConfig(const Session& session, const std::string& name) {
    return WriteStored(session.SettingsFile, StoredKey::DefaultConfig, name);
}

void SelectListedConfig(app::ConfigListView& view, const std::string& stored) {
    if (stored.empty()) return;
    for (const std::string& item : view.Configs()) {
        if (EqualsNoCase(item, stored)) {
            view.SetConfigText(stored);
            return;
        }
    }
}

void FillConfigList(net::FtpSession& ftp, app::ConfigListView& view,
                    const std::string& storedDefault) {
    const Catalogue catalogue = ListCatalogue(ftp);
    view.ClearConfigs();
    for (const std::string& entry : catalogue.entries) view.AddConfig(entry);
    if (catalogue.placeholder) view.SetConfigText(kPlaceholderConfig);
    SelectListedConfig(view, storedDefault);
}

}  // namespace talvane
