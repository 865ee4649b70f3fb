// talvane-ftp-bench: downloads one file with FtpSession::Download (progress
// events on, counted by a handler) and prints the time it took.
//   talvane-ftp-bench HOST[:PORT] USER PASSWORD REMOTE LOCAL
// Output: "ms=<milliseconds> events=<count> bytes=<size>"; exit 1 on failure.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "net/ftp_session.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s HOST[:PORT] USER PASSWORD REMOTE LOCAL\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    talvane::net::FtpSession ftp;
    ftp.UsePassiveMode();
    ftp.UseBinary();
    std::uint64_t events = 0;
    std::int64_t last = 0;
    ftp.Progress = [&events, &last](std::int64_t current, std::int64_t) {
        ++events;
        last = current;
    };
    if (!ftp.Open(argv[1], argv[2], argv[3])) {
        std::fprintf(stderr, "open failed: %s\n", ftp.LastErrorMessage().c_str());
        return 1;
    }
    if (!ftp.Download(argv[5], argv[4])) {
        std::fprintf(stderr, "download failed: %s\n", ftp.LastErrorMessage().c_str());
        return 1;
    }
    ftp.Close();
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("ms=%.1f events=%llu bytes=%lld\n", ms, static_cast<unsigned long long>(events),
                static_cast<long long>(last));
    return 0;
}
