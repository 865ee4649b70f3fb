// Signature checks of what the launcher fetches before it unpacks or runs it.
#include "app/main_presenter.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "net/download.h"
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

bool MainPresenter::SignatureRequired(const std::string& shownName) const {
    if (!session_.PublicKey.empty()) return true;
    DPrint("not verified (no public key in the settings): " + shownName);
    return false;
}

bool MainPresenter::FetchSignatureFtp(const std::string& remoteName, std::string& signature) {
    const std::string local = AppPath() + StripPath(remoteName) + kSignatureSuffix;
    if (!FetchWhole(local, remoteName + kSignatureSuffix)) return false;
    return ReadSignature(local, signature);
}

bool MainPresenter::FetchSignatureHttp(const std::string& url, std::string& signature) {
    const std::string local = AppPath() + ".download" + kSignatureSuffix;
    DeleteFileQuiet(local);
    // A missing signature is a refusal of this one file, not a broken connection
    // that ends the program.
    bool aborted = false;
    Download download;
    download.lowSpeedBytes = endpoints_.LowSpeedLimit;
    download.lowSpeedSeconds = endpoints_.LowSpeedTime;
    download.maxBytes = kMaxSignatureSize;
    download.DownloadAborted = [&](long, const std::string&) { aborted = true; };
    download.StartDownload(url + kSignatureSuffix, local);
    if (aborted || !DoesFileExist(local)) {
        DeleteFileQuiet(local);
        return false;
    }
    return ReadSignature(local, signature);
}

bool MainPresenter::AcceptSignedFile(const std::string& localPath, const std::string& shownName,
                                     bool fetched, const std::string& signature) {
    std::string why;
    if (!fetched) {
        why = "its signature (" + shownName + kSignatureSuffix + ") could not be downloaded";
    } else if (auto verified = net::VerifyMinisignFile(localPath, signature, session_.PublicKey);
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

bool MainPresenter::VerifyFtpDownload(const std::string& localPath, const std::string& remoteName) {
    const std::string shown = StripPath(remoteName);
    if (!SignatureRequired(shown)) return true;
    std::string signature;
    const bool fetched = FetchSignatureFtp(remoteName, signature);
    return AcceptSignedFile(localPath, shown, fetched, signature);
}

bool MainPresenter::VerifyHttpDownload(const std::string& localPath, const std::string& url) {
    const std::string shown = StripPath(StripEndOfString(url, "?"));
    if (!SignatureRequired(shown)) return true;
    std::string signature;
    const bool fetched = FetchSignatureHttp(url, signature);
    return AcceptSignedFile(localPath, shown, fetched, signature);
}

}  // namespace talvane::ui
