#include "settings/endpoints.h"

#include <charconv>
#include <utility>

#include "common/log.h"
#include "common/strings.h"

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

// A whole number of at least `least`; anything else keeps the default, with a log line.
void OverrideNumber(const std::string& ini, const char* key, long& field, long least = 1) {
    const auto value = FindIniValue(ini, kEndpointsSection, key);
    if (!value || value->empty()) return;
    long parsed = 0;
    const char* end = value->data() + value->size();
    const auto [ptr, ec] = std::from_chars(value->data(), end, parsed);
    if (ec != std::errc() || ptr != end || parsed < least) {
        DPrint(std::string("Endpoints ") + key + "=" + *value + " ignored: not a number from " +
               std::to_string(least));
        return;
    }
    field = parsed;
}

// off, try or required in any letter case; anything else keeps the default, with a log line.
void OverrideFtpTls(const std::string& ini, FtpTls& field) {
    const auto value = FindIniValue(ini, kEndpointsSection, "FtpTls");
    if (!value || value->empty()) return;
    constexpr std::pair<const char*, FtpTls> kModes[] = {
        {"off", FtpTls::Off}, {"try", FtpTls::Try}, {"required", FtpTls::Required}};
    const std::string wanted = ToLower(Trim(*value));
    for (const auto& [name, mode] : kModes) {
        if (wanted == name) {
            field = mode;
            return;
        }
    }
    DPrint("Endpoints FtpTls=" + *value + " ignored: not off, try or required");
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
    Override(ini, "SevenZipMirrorSHA256", e.SevenZipMirrorSHA256);
    OverrideNumber(ini, "LowSpeedLimit", e.LowSpeedLimit);
    OverrideNumber(ini, "LowSpeedTime", e.LowSpeedTime);
    OverrideNumber(ini, "BusyRetrySeconds", e.BusyRetrySeconds, 0);
    OverrideFtpTls(ini, e.FtpTls);
    Override(ini, "FtpCaFile", e.FtpCaFile);
    if (auto skip = FindIniValue(ini, kEndpointsSection, "SkipUnchanged"))
        e.SkipUnchanged = Trim(*skip) != "0";
    if (auto delta = FindIniValue(ini, kEndpointsSection, "DeltaDownloads"))
        e.DeltaDownloads = Trim(*delta) != "0";
    // Here an empty value is meaningful: it switches the update check or the
    // mirror off (a site without an update server must still be able to start).
    if (auto updates = FindIniValue(ini, kEndpointsSection, "UpdatesURL")) e.UpdatesURL = *updates;
    if (auto mirror = FindIniValue(ini, kEndpointsSection, "SevenZipMirrorURL"))
        e.SevenZipMirrorURL = *mirror;
    return e;
}

}  // namespace talvane
