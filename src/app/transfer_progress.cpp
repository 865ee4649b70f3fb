#include "app/transfer_progress.h"

#include <cstdio>
#include <string_view>

#include "common/names.h"

namespace talvane::app {
namespace {

// Often enough for a bar that moves, rare enough that a fast transfer does not pay for it.
constexpr std::chrono::milliseconds kFrameInterval{200};
constexpr double kMebibyte = 1024.0 * 1024.0;

std::string Amount(long bytes, double unit) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / unit);
    return text;
}

}  // namespace

std::optional<TransferFrame> TransferProgress::Next(const std::string& file, long current,
                                                    long total, Clock::time_point now) {
    const bool begins = file != file_ || current == 0 || current < last_ || total != total_;
    if (begins) {
        file_ = file;
        start_ = now;
        base_ = current;
    }
    last_ = current;
    total_ = total;
    const bool sized = total > 0 && current <= total;
    const bool ends = sized && current == total;
    if (!begins && !ends && now - shown_ < kFrameInterval) return std::nullopt;
    shown_ = now;

    TransferFrame frame{sized, sized ? total : 0, sized ? current : 0, {}};
    if (std::string_view(file).ends_with(names::kSignatureSuffix)) {
        frame.line = "Checking signature: fetching " + file;
        return frame;
    }
    // A delta names what it fetches in its own words; the bar shows how far it got.
    if (file.starts_with("Fetching ")) {
        frame.line = file;
        return frame;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate =
        seconds > 0 ? static_cast<double>(current - base_) / kMebibyte / seconds : 0.0;
    char speed[32];
    std::snprintf(speed, sizeof speed, ", %.1f MiB/s", rate);
    // A file under a mebibyte is counted in kibibytes: "0.0 of 0.0 MiB" says nothing.
    const bool small = (sized ? total : current) < (1L << 20);
    const double unit = small ? 1024.0 : kMebibyte;
    frame.line = "Downloading " + file + " - " + Amount(current, unit) +
                 (sized ? " of " + Amount(total, unit) : std::string()) +
                 (small ? " KiB" : " MiB") + speed;
    return frame;
}

}  // namespace talvane::app
