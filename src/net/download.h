#pragma once
// Download of one URL to one file (http and https unless more is allowed), synchronous, with
// events for its start, progress and end. Writes to a temporary name and
// renames on success. The status codes are in net/error_codes.h.
#include <cstdint>
#include <functional>
#include <string>

namespace talvane::net {

// libcurl's names of the schemes a download may use, comma-separated.
inline constexpr const char* kWebProtocols = "http,https";
// The self-update package may also come from an FTP server.
inline constexpr const char* kPackageProtocols = "http,https,ftp";

class Download {
  public:
    std::function<void()> Started;
    std::function<void()> Complete;
    // `number` is the status code as a signed 32-bit value (0x800C0006 arrives
    // as -2146697210); compare with static_cast<std::int32_t>(kInet...).
    std::function<void(long number, const std::string& description)> Aborted;
    // Only when the length is known; counts stop at the largest 32-bit number.
    std::function<void(std::int64_t received, std::int64_t total)> Progress;

    Download();
    ~Download();
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    // Returns when the transfer has ended. Does nothing while one is running.
    void Start(const std::string& url, const std::string& localPath, const std::string& user = {},
               const std::string& password = {});
    void Stop();
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
    // The schemes the URL and each redirect may use; any other ends the download as
    // an unknown protocol (the URL) or a failed redirect. Once on https, a download
    // never goes on over anything else, whatever this allows.
    std::string protocols = kWebProtocols;
    // A PEM file of the certificate authorities an https server must chain to;
    // empty: the system's.
    std::string certificateAuthorities;

  private:
    bool running_ = false;
    bool abortRequested_ = false;
};

}  // namespace talvane::net
