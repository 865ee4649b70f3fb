#pragma once
// Signature checks of what the launcher fetches before it unpacks or runs it.
// With a public key in the settings a fetched file is used only when its
// signature (same name plus ".minisig", same server) checks out, names that
// file in its trusted comment, and is not older than one accepted before for
// that name; otherwise the file is deleted and the user told which file failed
// and why. Without a key every file passes (and the log says it was not verified).
#include <string>
#include <string_view>

#include "app/frontend.h"
#include "app/transfers.h"
#include "common/result.h"
#include "net/minisign.h"

namespace talvane::app {

class SignatureCheck {
  public:
    SignatureCheck(Frontend& frontend, Transfers& transfers, std::string publicKey);

    bool Required() const { return !publicKey_.empty(); }
    // `remoteName` in the FTP session's current folder.
    bool FtpFile(const std::string& localPath, const std::string& remoteName);
    bool HttpFile(const std::string& localPath, const std::string& url);
    // As FtpFile for a file the caller can do without: a refusal is logged and
    // the file deleted, but the user is not told.
    bool FtpFileQuietly(const std::string& localPath, const std::string& remoteName);
    // Whether `signature`, the one beside `name` on the server, signs the file
    // whose BLAKE2b-512 hash is `hash` (binary) under the rules for whole files;
    // a refusal is logged. Without a key: true.
    bool HashSignedQuietly(const std::string& name, std::string_view hash,
                           const std::string& signature);
    // The bytes of the signature beside `remoteName` on the FTP server; empty
    // when there is none or it cannot be fetched.
    std::string SignatureOnServer(const std::string& remoteName);

  private:
    bool Skipped(const std::string& shownName) const;
    // Each returns why the signature cannot be used, or "" when it can.
    std::string FetchFtp(const std::string& remoteName, std::string& signature);
    std::string FetchHttp(const std::string& url, std::string& signature);
    std::string Judge(const std::string& localPath, const std::string& name,
                      const std::string& signature) const;
    // Why a verified (or refused) signature of `name` cannot be used; "" when it can.
    std::string JudgeVerified(const Result<net::SignedComment>& verified,
                              const std::string& name) const;
    bool Accept(const std::string& localPath, const std::string& shownName,
                const std::string& whyNotFetched, const std::string& signature);

    Frontend& frontend_;
    Transfers& transfers_;
    std::string publicKey_;
};

}  // namespace talvane::app
