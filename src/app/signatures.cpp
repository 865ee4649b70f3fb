#include "app/signatures.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>
#include <utility>

#include "app/messages.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "net/minisign.h"
#include "platform/file_io.h"

namespace talvane::app {

namespace {
constexpr const char* kCheckingSignature = "Checking signature";
// A signature file is a few hundred bytes.
constexpr std::int64_t kMaxSignatureSize = 16 * 1024;
// The remembered signature times decide what a replayed old file is; only the
// user may change them.
constexpr unsigned kAcceptedFileMode = 0600;

// The newest signature time accepted per file name.
using Accepted = std::map<std::string, std::uint64_t, std::less<>>;

// Beside the settings file: "Talvane.signatures" next to "Talvane.ini".
std::string AcceptedPath() {
    const std::string settings = SettingsFilePath();
    return settings.substr(0, settings.rfind('.')) + ".signatures";
}

// Lines "<seconds> <name>"; a line of any other shape is not remembered.
Accepted ReadAccepted() {
    Accepted accepted;
    std::string text;
    if (!ReadWholeFile(AcceptedPath(), text)) return accepted;
    for (std::string_view rest = text; !rest.empty();) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) continue;
        std::uint64_t seconds = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + blank, seconds);
        if (error != std::errc() || end != line.data() + blank) continue;
        std::uint64_t& known = accepted[std::string(line.substr(blank + 1))];
        known = std::max(known, seconds);
    }
    return accepted;
}

bool WriteAccepted(const Accepted& accepted) {
    std::string text;
    for (const auto& [name, seconds] : accepted)
        text += std::to_string(seconds) + ' ' + name + '\n';
    return WriteFileAtomic(AcceptedPath(), text, kAcceptedFileMode);
}

// The size is looked at first, so no peer can make the launcher read a large file.
bool ReadSignature(const std::string& path, std::string& text) {
    fileio::FileFacts facts;
    const bool ok = fileio::StatFile(path, facts) &&
                    facts.size <= static_cast<unsigned long long>(kMaxSignatureSize) &&
                    ReadWholeFile(path, text);
    DeleteFileQuiet(path);
    return ok;
}

std::string NotDownloaded(const std::string& signatureName) {
    return "its signature (" + signatureName + ") could not be downloaded";
}
}  // namespace

SignatureCheck::SignatureCheck(Frontend& frontend, Transfers& transfers, std::string publicKey)
    : frontend_(frontend), transfers_(transfers), publicKey_(std::move(publicKey)) {}

bool SignatureCheck::Skipped(const std::string& shownName) const {
    if (Required()) return false;
    DPrint("not verified (no public key in the settings): " + shownName);
    return true;
}

std::string SignatureCheck::FetchFtp(const std::string& remoteName, std::string& signature) {
    const std::string remote = remoteName + names::kSignatureSuffix;
    const std::string shown = StripPath(remote);
    // Judged by its listed size before a byte of it moves.
    const auto size = transfers_.Ftp().FileSize(remote);
    if (!size) return NotDownloaded(shown);
    if (*size > kMaxSignatureSize)
        return "its signature (" + shown + ") is listed at " + std::to_string(*size) +
               " bytes, more than the " + std::to_string(kMaxSignatureSize) +
               " a signature may have; it was not fetched";
    const std::string local = WorkPath() + shown;
    // The listing may say little and the server send a lot: the transfer itself is capped.
    if (!transfers_.FetchWhole(local, remote, kMaxSignatureSize) ||
        !ReadSignature(local, signature))
        return NotDownloaded(shown);
    return {};
}

std::string SignatureCheck::FetchHttp(const std::string& url, std::string& signature) {
    const std::string local = WorkPath() + ".download" + names::kSignatureSuffix;
    // A missing signature is a refusal of this one file, not a broken connection
    // that ends the program.
    // The signature travels the way its file did (an FTP update package, say).
    const bool ftp = ToLower(url.substr(0, 6)) == "ftp://";
    if (!transfers_
             .Download(url + names::kSignatureSuffix, local, kMaxSignatureSize, true,
                       ftp ? net::kPackageProtocols : net::kWebProtocols)
             .fetched ||
        !ReadSignature(local, signature))
        return NotDownloaded(UrlFileName(url) + names::kSignatureSuffix);
    return {};
}

std::string SignatureCheck::Judge(const std::string& localPath, const std::string& name,
                                  const std::string& signature) const {
    return JudgeVerified(net::VerifyMinisignFile(localPath, signature, publicKey_), name);
}

std::string SignatureCheck::JudgeVerified(const Result<net::SignedComment>& verified,
                                          const std::string& name) const {
    if (!verified) return verified.error().message;
    // A good signature of another file, or an old one of this file, must not
    // pass for the file asked for.
    const net::SignedComment& comment = verified.value();
    if (comment.file.empty())
        return "the signature does not name its file (no file: in its trusted comment)";
    if (comment.file != name) return "the signature is for " + comment.file + ", not " + name;
    if (!comment.timestamp) return "the signature carries no timestamp";
    Accepted accepted = ReadAccepted();
    const auto known = accepted.find(name);
    if (known != accepted.end() && *comment.timestamp < known->second)
        return "the signature is older than the one already accepted for " + name + " (" +
               std::to_string(*comment.timestamp) + " < " + std::to_string(known->second) + ")";
    if (known == accepted.end() || *comment.timestamp > known->second) {
        accepted[name] = *comment.timestamp;
        if (!WriteAccepted(accepted)) DPrint("could not remember the signature time of " + name);
    }
    return {};
}

bool SignatureCheck::Accept(const std::string& localPath, const std::string& shownName,
                            const std::string& whyNotFetched, const std::string& signature) {
    const std::string why =
        whyNotFetched.empty() ? Judge(localPath, shownName, signature) : whyNotFetched;
    if (why.empty()) {
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
    frontend_.SetActivity(kCheckingSignature);
    std::string signature;
    const std::string whyNot = FetchFtp(remoteName, signature);
    return Accept(localPath, shown, whyNot, signature);
}

bool SignatureCheck::FtpFileQuietly(const std::string& localPath, const std::string& remoteName) {
    const std::string shown = StripPath(remoteName);
    if (Skipped(shown)) return true;
    std::string signature;
    std::string why = FetchFtp(remoteName, signature);
    if (why.empty()) why = Judge(localPath, shown, signature);
    if (why.empty()) {
        DPrint("signature verified: " + shown);
        return true;
    }
    DPrint("not used " + shown + ": " + why);
    DeleteFileQuiet(localPath);
    return false;
}

bool SignatureCheck::HashSignedQuietly(const std::string& name, std::string_view hash,
                                       const std::string& signature) {
    if (Skipped(name)) return true;
    const std::string why =
        signature.empty()
            ? NotDownloaded(name + names::kSignatureSuffix)
            : JudgeVerified(net::VerifyMinisignHash(hash, signature, publicKey_), name);
    if (why.empty()) {
        DPrint("signature verified through its entry manifest: " + name);
        return true;
    }
    DPrint("not used the entry manifest's package " + name + ": " + why);
    return false;
}

std::string SignatureCheck::SignatureOnServer(const std::string& remoteName) {
    std::string signature;
    if (!FetchFtp(remoteName, signature).empty()) return {};
    return signature;
}

bool SignatureCheck::HttpFile(const std::string& localPath, const std::string& url) {
    // The name asked for is the URL's last part, its query left out, as the
    // signer wrote it (decoded).
    const std::string shown = UrlFileName(url);
    if (Skipped(shown)) return true;
    frontend_.SetActivity(kCheckingSignature);
    std::string signature;
    const std::string whyNot = FetchHttp(url, signature);
    return Accept(localPath, shown, whyNot, signature);
}

}  // namespace talvane::app
