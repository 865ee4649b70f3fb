#include "app/signatures.h"

#include <utility>

#include "app/messages.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "net/minisign.h"

namespace talvane::ui {

namespace {
constexpr const char* kSignatureSuffix = ".minisig";
// A signature file is a few hundred bytes.
constexpr std::size_t kMaxSignatureSize = 16 * 1024;

bool ReadSignature(const std::string& path, std::string& text) {
    const bool ok = ReadWholeFile(path, text) && text.size() <= kMaxSignatureSize;
    DeleteFileQuiet(path);
    return ok;
}
}  // namespace

SignatureCheck::SignatureCheck(Frontend& frontend, Transfers& transfers, std::string publicKey)
    : frontend_(frontend), transfers_(transfers), publicKey_(std::move(publicKey)) {}

bool SignatureCheck::Skipped(const std::string& shownName) const {
    if (Required()) return false;
    DPrint("not verified (no public key in the settings): " + shownName);
    return true;
}

bool SignatureCheck::FetchFtp(const std::string& remoteName, std::string& signature) {
    const std::string local = AppPath() + StripPath(remoteName) + kSignatureSuffix;
    if (!transfers_.FetchWhole(local, remoteName + kSignatureSuffix)) return false;
    return ReadSignature(local, signature);
}

bool SignatureCheck::FetchHttp(const std::string& url, std::string& signature) {
    const std::string local = AppPath() + ".download" + kSignatureSuffix;
    // A missing signature is a refusal of this one file, not a broken connection
    // that ends the program.
    if (!transfers_.Download(url + kSignatureSuffix, local, kMaxSignatureSize, true).fetched)
        return false;
    return ReadSignature(local, signature);
}

bool SignatureCheck::Accept(const std::string& localPath, const std::string& shownName,
                            bool fetched, const std::string& signature) {
    std::string why;
    if (!fetched) {
        why = "its signature (" + shownName + kSignatureSuffix + ") could not be downloaded";
    } else if (auto verified = net::VerifyMinisignFile(localPath, signature, publicKey_);
               !verified) {
        why = verified.error().message;
    } else {
        DPrint("signature verified: " + shownName);
        return true;
    }
    DPrint("refused " + shownName + ": " + why);
    DeleteFileQuiet(localPath);
    frontend_.MessageBox("The file " + shownName + " was refused: " + why + "." + kLineBreak +
                             "Nothing from it was unpacked or started.",
                         AppTitle(), MsgIcon::Critical);
    return false;
}

bool SignatureCheck::FtpFile(const std::string& localPath, const std::string& remoteName) {
    const std::string shown = StripPath(remoteName);
    if (Skipped(shown)) return true;
    std::string signature;
    const bool fetched = FetchFtp(remoteName, signature);
    return Accept(localPath, shown, fetched, signature);
}

bool SignatureCheck::HttpFile(const std::string& localPath, const std::string& url) {
    const std::string shown = StripPath(StripEndOfString(url, "?"));
    if (Skipped(shown)) return true;
    std::string signature;
    const bool fetched = FetchHttp(url, signature);
    return Accept(localPath, shown, fetched, signature);
}

}  // namespace talvane::ui
