#pragma once
// Download of one URL to one file (http, https, ftp, ftps), synchronous, with
// the five events. Writes to a temporary name and renames on success.
#include <cstdint>
#include <functional>
#include <string>

namespace talvane {

// INET_E status codes and their texts.
inline constexpr std::uint32_t kInetInvalidUrl = 0x800C0002;
inline constexpr std::uint32_t kInetNoSession = 0x800C0003;
inline constexpr std::uint32_t kInetCannotConnect = 0x800C0004;
inline constexpr std::uint32_t kInetResourceNotFound = 0x800C0005;
inline constexpr std::uint32_t kInetObjectNotFound = 0x800C0006;
inline constexpr std::uint32_t kInetDataNotAvailable = 0x800C0007;
inline constexpr std::uint32_t kInetDownloadFailure = 0x800C0008;
inline constexpr std::uint32_t kInetAuthenticationRequired = 0x800C0009;
inline constexpr std::uint32_t kInetConnectionTimeout = 0x800C000B;
inline constexpr std::uint32_t kInetInvalidRequest = 0x800C000C;
inline constexpr std::uint32_t kInetUnknownProtocol = 0x800C000D;
inline constexpr std::uint32_t kInetSecurityProblem = 0x800C000E;
inline constexpr std::uint32_t kInetRedirectFailed = 0x800C0014;
inline constexpr std::uint32_t kAbortedByCaller = 0x80004004;  // E_ABORT, after StopDownload
std::string StatusCodeText(std::uint32_t code);

class Download {
  public:
    std::function<void()> DownloadStarted;
    std::function<void()> DownloadComplete;
    // ErrNumber is the status code as a signed 32-bit value (0x800C0006 arrives
    // as -2146697210); compare with static_cast<std::int32_t>(kInet...).
    std::function<void(long ErrNumber, const std::string& ErrDescription)> DownloadAborted;
    std::function<void(long ReceivedBytes, long TotalBytes)> DownloadProgress;
    std::function<void(std::string& Username, std::string& Password)> Authenticate;

    Download();
    ~Download();
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    // Returns when the transfer has ended. Does nothing while one is running.
    void StartDownload(const std::string& Source, const std::string& dest,
                       const std::string& Username = {}, const std::string& Password = {});
    void StopDownload();
    bool Running() const { return running_; }

    // Time-outs (seconds) so a dead server cannot hang the launcher; idle:
    // waiting for the server's first reply.
    long connectTimeoutSeconds = 20;
    long idleTimeoutSeconds = 30;
    // A transfer that moves fewer than lowSpeedBytes in lowSpeedSeconds ends
    // as a timed-out connection.
    long lowSpeedBytes = 1024;
    long lowSpeedSeconds = 60;
    // More than this many bytes (0: no cap) aborts the download as a failure.
    long long maxBytes = 0;

  private:
    bool running_ = false;
    bool abortRequested_ = false;
    std::string user_;
    std::string password_;
};

}  // namespace talvane
