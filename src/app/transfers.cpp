#include "app/transfers.h"

#include <utility>

#include "app/busy_retry.h"
#include "common/clock.h"
#include "common/files.h"
#include "common/names.h"
#include "common/strings.h"
#include "net/download.h"

namespace talvane::app {

Transfers::Transfers(Endpoints endpoints) : endpoints_(std::move(endpoints)) {
    ftp_.lowSpeedBytes = endpoints_.LowSpeedLimit;
    ftp_.lowSpeedSeconds = endpoints_.LowSpeedTime;
    ftp_.tls = endpoints_.FtpTls;
    ftp_.tlsCaFile = endpoints_.FtpCaFile;
    // The session fetches nothing beyond 32-bit counts, so they fit a long.
    ftp_.Progress = [this](std::int64_t current, std::int64_t total) {
        if (onProgress) onProgress(static_cast<long>(current), static_cast<long>(total));
    };
    ftp_.UsePassiveMode();
    ftp_.UseBinary();
}

void Transfers::RetryWhenBusy(
    std::function<void(int attempt, std::chrono::milliseconds next)> waiting) {
    retryWhenBusy_ = static_cast<bool>(waiting);
    waiting_ = std::move(waiting);
}

bool Transfers::Open(const std::string& host, const std::string& user,
                     const std::string& password) {
    const auto attempt = [&] { return ftp_.Open(host, user, password); };
    if (!retryWhenBusy_) return attempt();
    BusyRetry retry(std::chrono::seconds(endpoints_.BusyRetrySeconds), CurrentClock(),
                    [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); });
    return retry.Run(
        attempt, [this] { return ftp_.LastFailure(); }, waiting_);
}

bool Transfers::OpenRepository(const std::string& user, const std::string& password) {
    return Open(endpoints_.RepositoryHost, user, password);
}

bool Transfers::OpenRepositoryAsMember() {
    return OpenRepository(names::kBuiltInUser, names::kBuiltInPassword);
}

bool Transfers::OpenRedist() {
    return Open(endpoints_.RedistHost, names::kBuiltInUser, names::kBuiltInPassword);
}

std::string Transfers::LastError(const std::string& otherwise) const {
    std::string reason = ftp_.LastErrorMessage();
    return reason.empty() ? otherwise : reason;
}

bool Transfers::FetchWhole(const std::string& localPath, const std::string& remoteName,
                           std::int64_t maxBytes) {
    transferring_ = StripPath(localPath);
    if (ftp_.Download(localPath, remoteName, maxBytes)) return true;
    // A broken transfer must not leave a part that a later step would take
    // for the whole file.
    DeleteFileQuiet(localPath);
    return false;
}

bool Transfers::FetchResumable(const std::string& localPath, const std::string& remoteName) {
    return ResumableFetch(localPath, remoteName)();
}

std::function<bool()> Transfers::ResumableFetch(const std::string& localPath,
                                                const std::string& remoteName) {
    transferring_ = StripPath(localPath);
    return [this, localPath, remoteName] {
        if (ftp_.DownloadResumable(localPath, remoteName)) return true;
        DeleteFileQuiet(localPath);
        return false;
    };
}

bool Transfers::FetchRanges(const std::string& localPath, const std::string& remoteName,
                            std::int64_t size, const std::vector<net::ByteRange>& ranges,
                            const std::string& shown) {
    transferring_ = shown;
    if (ftp_.DownloadRanges(localPath, remoteName, size, ranges)) return true;
    DeleteFileQuiet(localPath);
    return false;
}

UrlDownload Transfers::Download(const std::string& url, const std::string& localPath,
                                long long maxBytes, bool quiet, const char* protocols) {
    if (!quiet) transferring_ = StripPath(localPath);
    DeleteFileQuiet(localPath);
    UrlDownload result;
    net::Download download;
    download.lowSpeedBytes = endpoints_.LowSpeedLimit;
    download.lowSpeedSeconds = endpoints_.LowSpeedTime;
    download.maxBytes = maxBytes;
    download.protocols = protocols;
    if (!quiet) {
        download.Started = [this] {
            if (onStarted) onStarted();
        };
        // Counts stop at the largest 32-bit number, so they fit a long.
        download.Progress = [this](std::int64_t received, std::int64_t total) {
            if (onProgress) onProgress(static_cast<long>(received), static_cast<long>(total));
        };
    }
    download.Aborted = [&result, &url](long number, const std::string& description) {
        result.abort = DownloadAbort{number, description, url};
    };
    download.Start(url, localPath);
    result.fetched = !result.abort && DoesFileExist(localPath);
    if (!result.fetched) DeleteFileQuiet(localPath);
    return result;
}

}  // namespace talvane::app
