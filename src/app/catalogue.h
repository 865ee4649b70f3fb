#pragma once
// The configuration-set catalogue of the current remote folder, shared by the
// main window and the default-configuration dialog, and the stored default set.
#include <string>
#include <vector>

#include "net/ftp_session.h"
#include "settings/session.h"

namespace talvane {

inline constexpr const char* kPlaceholderConfig = "[Pre-Conversion]";

struct Catalogue {
    std::vector<std::string> entries;  // server order, every ".7z" removed
    bool placeholder = false;          // nothing listed: the one entry is kPlaceholderConfig
};

// Lists the current folder of `ftp` with "*.*"; names longer than kMaxNameLength
// are left out.
Catalogue ListCatalogue(net::FtpSession& ftp);

// The set stored as the default ("DefaultConfig"); "" for none or "%prompt%".
std::string StoredDefaultConfig(const Session& session);
// Stores `name` as the default set ("%prompt%": ask each time).
bool SaveDefaultConfig(const Session& session, const std::string& name);

namespace app {
class ConfigListView;
}
// Fills a window's list from the current folder of `ftp` and preselects the
// stored default (`storedDefault`, letter case ignored) when it is listed.
void FillConfigList(net::FtpSession& ftp, app::ConfigListView& view,
                    const std::string& storedDefault);
// Selects `stored` when the list holds it (letter case ignored).
void SelectListedConfig(app::ConfigListView& view, const std::string& stored);

}  // namespace talvane
