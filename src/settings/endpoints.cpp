#include "settings/endpoints.h"

#include "common/app_paths.h"
#include "settings/settings.h"
#include "talvane/version.h"

namespace talvane {
namespace {

constexpr const char* kEndpointsSection = "Endpoints";

// An absent or empty key keeps the compiled-in value.
void Override(const std::string& ini, const char* key, std::string& field) {
    auto value = FindIniValue(ini, kEndpointsSection, key);
    if (value && !value->empty()) field = *value;
}

}  // namespace

Endpoints LoadEndpoints(const std::string& iniFile) {
    Endpoints e;
    e.RepositoryHost = version::kDefaultRepositoryHost;
    e.RedistHost = version::kDefaultRedistHost;
    e.UpdatesURL = version::kDefaultUpdatesUrl;
    e.SubscriberURL = version::kDefaultSubscriberUrl;
    e.SevenZipMirrorURL = version::kDefaultSevenZipMirrorUrl;
    const std::string& ini = iniFile;
    if (ini.empty()) return e;
    Override(ini, "RepositoryHost", e.RepositoryHost);
    Override(ini, "RedistHost", e.RedistHost);
    Override(ini, "SubscriberURL", e.SubscriberURL);
    // Here an empty value is meaningful: it switches the update check or the
    // mirror off (a site without an update server must still be able to start).
    if (auto updates = FindIniValue(ini, kEndpointsSection, "UpdatesURL")) e.UpdatesURL = *updates;
    if (auto mirror = FindIniValue(ini, kEndpointsSection, "SevenZipMirrorURL"))
        e.SevenZipMirrorURL = *mirror;
    return e;
}

}  // namespace talvane
