#pragma once
// Signature checks of what the launcher fetches before it unpacks or runs it.
// With a public key in the settings a fetched file is used only when its
// signature (same name plus ".minisig", same server) checks out; otherwise the
// file is deleted and the user told which file failed and why. Without a key
// every file passes (and the log says it was not verified).
#include <string>

#include "app/frontend.h"
#include "app/transfers.h"

namespace talvane::ui {

class SignatureCheck {
  public:
    SignatureCheck(Frontend& frontend, Transfers& transfers, std::string publicKey);

    bool Required() const { return !publicKey_.empty(); }
    // `remoteName` in the FTP session's current folder.
    bool FtpFile(const std::string& localPath, const std::string& remoteName);
    bool HttpFile(const std::string& localPath, const std::string& url);

  private:
    bool Skipped(const std::string& shownName) const;
    bool FetchFtp(const std::string& remoteName, std::string& signature);
    bool FetchHttp(const std::string& url, std::string& signature);
    bool Accept(const std::string& localPath, const std::string& shownName, bool fetched,
                const std::string& signature);

    Frontend& frontend_;
    Transfers& transfers_;
    std::string publicKey_;
};

}  // namespace talvane::ui
