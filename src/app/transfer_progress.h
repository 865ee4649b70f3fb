#pragma once
// What a transfer shows: the bar and the line beside it, made from the same figures at
// the same moment, so that the two never disagree on screen.
#include <chrono>
#include <optional>
#include <string>

namespace talvane::app {

struct TransferFrame {
    bool sized = false;  // the server said how large the file is: the bar follows it
    long barMax = 0;
    long barValue = 0;
    // "Downloading Tekmo.zip - 12.3 of 40.0 MiB, 5.1 MiB/s", or the signature being fetched.
    std::string line;
};

class TransferProgress {
  public:
    using Clock = std::chrono::steady_clock;

    // The frame to show for `current` of `total` bytes of `file` (`total` 0 when unknown),
    // or nothing when one was shown moments ago. A new transfer's first frame and the last
    // frame always show.
    std::optional<TransferFrame> Next(const std::string& file, long current, long total,
                                      Clock::time_point now);

  private:
    std::string file_;
    Clock::time_point start_{}, shown_{};
    long base_ = 0;  // where the transfer began: a resumed one starts part-way
    long last_ = -1;
    long total_ = -1;
};

}  // namespace talvane::app
