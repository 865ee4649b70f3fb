#pragma once
// The launcher's transfers: its one FTP session and its URL downloads, with the
// endpoints' time limits applied once. Progress goes wherever the owner says.
#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "net/download.h"
#include "net/ftp_session.h"
#include "settings/endpoints.h"

namespace talvane::app {

// Why a URL download ended without its file.
struct DownloadAbort {
    long number = 0;
    std::string description;
    std::string url;  // what was being downloaded (may carry credentials: never logged)
};

// A URL download: the file is there, or it is not (and the transfer said why).
struct UrlDownload {
    bool fetched = false;
    std::optional<DownloadAbort> abort;
};

class Transfers {
  public:
    explicit Transfers(Endpoints endpoints);
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    const Endpoints& Hosts() const { return endpoints_; }
    net::FtpSession& Ftp() { return ftp_; }

    // Sign-ins on the FTP session (the previous connection is closed first).
    bool OpenRepository(const std::string& user, const std::string& password);
    bool OpenRepositoryAsMember();  // the maker's built-in account
    bool OpenRedist();              // the redistribution host, built-in account
    void Close() { ftp_.Close(); }
    // From now on a sign-in that finds the server busy is tried again until the endpoints'
    // BusyRetrySeconds have passed; `waiting` hears of each wait (attempt number, its length).
    // An empty `waiting` tries once again, as interactive runs do.
    void RetryWhenBusy(std::function<void(int attempt, std::chrono::milliseconds next)> waiting);
    // The server's last error text, or `otherwise` when it gave none.
    std::string LastError(const std::string& otherwise) const;
    Error LastFailure() const { return ftp_.LastFailure(); }

    // An FTP download from the current folder that never leaves a part behind.
    // `maxBytes` > 0: a file that sends more is refused as it arrives.
    bool FetchWhole(const std::string& localPath, const std::string& remoteName,
                    std::int64_t maxBytes = 0);
    // The same, but a transfer cut off is continued by the next call (the part
    // waits beside `localPath`, never under its name).
    bool FetchResumable(const std::string& localPath, const std::string& remoteName);
    // FetchResumable to run on another thread, named here on the owner's; the
    // owner sets onProgress aside meanwhile and shows progress itself.
    std::function<bool()> ResumableFetch(const std::string& localPath,
                                         const std::string& remoteName);
    // Byte ranges of `remoteName` (of `size` bytes) into their places in
    // `localPath` (removed when they do not all arrive); `shown` stands for the
    // transfer on the status line.
    bool FetchRanges(const std::string& localPath, const std::string& remoteName, std::int64_t size,
                     const std::vector<net::ByteRange>& ranges, const std::string& shown);
    // A URL to `localPath` (an old file there is removed first). `maxBytes` > 0:
    // a larger download fails. Quiet downloads do not move the progress bar.
    // `protocols`: the schemes the URL and its redirects may use (libcurl's names).
    UrlDownload Download(const std::string& url, const std::string& localPath,
                         long long maxBytes = 0, bool quiet = false,
                         const char* protocols = net::kWebProtocols);

    // The file the current (or last) transfer fetches.
    const std::string& Transferring() const { return transferring_; }

    // Progress of either kind of transfer: (bytes so far, bytes in all).
    std::function<void(long current, long total)> onProgress;
    // A URL download has begun.
    std::function<void()> onStarted;

  private:
    bool Open(const std::string& host, const std::string& user, const std::string& password);

    Endpoints endpoints_;
    net::FtpSession ftp_;
    std::string transferring_;
    bool retryWhenBusy_ = false;
    std::function<void(int, std::chrono::milliseconds)> waiting_;
    std::mt19937 random_{std::random_device{}()};  // each launcher of a fleet waits its own time
};

}  // namespace talvane::app
