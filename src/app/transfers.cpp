#include "app/transfers.h"

#include <utility>

#include "common/files.h"
#include "common/names.h"
#include "net/download.h"

namespace talvane::ui {

Transfers::Transfers(Endpoints endpoints) : endpoints_(std::move(endpoints)) {
    ftp_.lowSpeedBytes = endpoints_.LowSpeedLimit;
    ftp_.lowSpeedSeconds = endpoints_.LowSpeedTime;
    ftp_.FileTransferProgress = [this](std::int32_t current, std::int32_t total) {
        if (onProgress) onProgress(current, total);
    };
    ftp_.SetModePassive();
    ftp_.SetTransferBinary();
}

bool Transfers::OpenRepository(const std::string& user, const std::string& password) {
    return ftp_.OpenConnection(endpoints_.RepositoryHost, user, password);
}

bool Transfers::OpenRepositoryAsMember() {
    return OpenRepository(names::kBuiltInUser, names::kBuiltInPassword);
}

bool Transfers::OpenRedist() {
    return ftp_.OpenConnection(endpoints_.RedistHost, names::kBuiltInUser, names::kBuiltInPassword);
}

std::string Transfers::LastError(const std::string& otherwise) const {
    std::string reason = ftp_.GetLastErrorMessage();
    return reason.empty() ? otherwise : reason;
}

bool Transfers::FetchWhole(const std::string& localPath, const std::string& remoteName) {
    if (ftp_.FTPDownloadFile(localPath, remoteName)) return true;
    // A broken transfer must not leave a part that a later step would take
    // for the whole file.
    DeleteFileQuiet(localPath);
    return false;
}

UrlDownload Transfers::Download(const std::string& url, const std::string& localPath,
                                long long maxBytes, bool quiet) {
    DeleteFileQuiet(localPath);
    UrlDownload result;
    talvane::Download download;
    download.lowSpeedBytes = endpoints_.LowSpeedLimit;
    download.lowSpeedSeconds = endpoints_.LowSpeedTime;
    download.maxBytes = maxBytes;
    if (!quiet) {
        download.DownloadStarted = [this] {
            if (onStarted) onStarted();
        };
        download.DownloadProgress = [this](long received, long total) {
            if (onProgress) onProgress(received, total);
        };
    }
    download.DownloadAborted = [&result](long number, const std::string& description) {
        result.abort = DownloadAbort{number, description};
    };
    download.StartDownload(url, localPath);
    result.fetched = !result.abort && DoesFileExist(localPath);
    if (!result.fetched) DeleteFileQuiet(localPath);
    return result;
}

}  // namespace talvane::ui
