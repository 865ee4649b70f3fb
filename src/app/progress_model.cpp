#include "app/progress_model.h"

#include <cstdint>

namespace talvane::app {

bool ProgressModel::SetMin(long value) {
    if (value > max_) return false;
    min_ = value;
    if (value_ < min_) value_ = min_;
    return true;
}

bool ProgressModel::SetMax(long value) {
    if (value < min_) return false;
    max_ = value;
    if (value_ > max_) value_ = max_;
    return true;
}

bool ProgressModel::SetValue(long value) {
    if (value < min_ || value > max_) return false;
    value_ = value;
    return true;
}

int ProgressModel::Position(int steps) const {
    if (steps <= 0 || max_ <= min_) return 0;
    // Unsigned differences stay exact for any range of longs; halving both
    // until the span fits 32 bits keeps the product below 2^63.
    std::uint64_t done = static_cast<std::uint64_t>(value_) - static_cast<std::uint64_t>(min_);
    std::uint64_t span = static_cast<std::uint64_t>(max_) - static_cast<std::uint64_t>(min_);
    while (span > UINT32_MAX) {
        done >>= 1;
        span >>= 1;
    }
    return static_cast<int>(done * static_cast<std::uint64_t>(steps) / span);
}

std::optional<int> DrawnPosition::Next(const ProgressModel& model) {
    const int position = model.Position(steps_);
    if (position == drawn_) return std::nullopt;
    drawn_ = position;
    return position;
}

}  // namespace talvane::app
