#pragma once
// What one run of the launcher works with: where its settings live, where the
// tool goes and the credentials. Start-up fills it; the windows and workflows
// receive it from their owner.
#include <string>

namespace talvane {

struct Session {
    std::string SettingsFile;   // the settings file beside the program
    std::string ExtractFolder;  // no trailing '/', always ends in "/tekmo"
    std::string UserName;
    std::string Password;
    std::string ZipPassword;
    // The maker's minisign public key ("[Security] PublicKey"); empty: downloads
    // are used unverified, as servers without signatures need.
    std::string PublicKey;
};

}  // namespace talvane
