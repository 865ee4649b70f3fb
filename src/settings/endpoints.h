#pragma once
// Where the servers are: compiled-in defaults, overridden by the settings
// file's optional "Endpoints" section.
#include <string>

#include "common/ftp_tls.h"

namespace talvane {

struct Endpoints {
    std::string RepositoryHost;     // host or host:port
    std::string RedistHost;         // host or host:port
    std::string UpdatesURL;         // full URL of the updates index archive; empty: no check
    std::string SubscriberURL;      // ends in "/Subscribers/"
    std::string SevenZipMirrorURL;  // empty skips the mirror
    // A transfer moving fewer than LowSpeedLimit bytes in LowSpeedTime seconds
    // is abandoned.
    long LowSpeedLimit = 1024;
    long LowSpeedTime = 60;
    // Hex SHA-256 of the mirror's archive; with a public key the mirror is used
    // only when this is set and matches.
    std::string SevenZipMirrorSHA256{};
    // Download && Run leaves a package alone that the tool tree already holds
    // (SkipUnchanged=0 downloads and unpacks it every time).
    bool SkipUnchanged = true;
    // FTP over TLS (off, try, required) and a CA file for a private CA; without
    // one the system's store verifies the servers' certificates.
    talvane::FtpTls FtpTls = talvane::FtpTls::Off;
    std::string FtpCaFile{};
    // An unattended run tries a busy FTP server again (jittered backoff) for this many
    // seconds before it gives up; 0 gives up at once.
    long BusyRetrySeconds = 120;
    // A new package is fetched as its changed entries when the server offers its
    // entry manifest and the tree holds an earlier deploy (DeltaDownloads=0: whole).
    bool DeltaDownloads = true;
};

// Reads the defaults and the "Endpoints" section of `iniFile` (only the defaults when empty).
// An empty host keeps its default; an empty UpdatesURL or SevenZipMirrorURL
// that is present in the file switches that source off. LowSpeedLimit and
// LowSpeedTime must be whole numbers above zero, BusyRetrySeconds zero or more; anything else
// keeps the default.
// FtpTls is off, try or required in any letter case; anything else keeps off.
Endpoints LoadEndpoints(const std::string& iniFile);

}  // namespace talvane
