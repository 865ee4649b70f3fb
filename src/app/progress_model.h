#pragma once
// The rules every progress bar follows, whichever frontend draws it, so the
// window logic is tested against the same bar the user sees.
#include <optional>

namespace talvane::app {

class ProgressModel {
  public:
    // A minimum above the maximum, a maximum below the minimum and a value
    // outside the range are refused (false, nothing changes), as the bar
    // control does. Narrowing the range pulls the value into it.
    bool SetMin(long value);
    bool SetMax(long value);
    bool SetValue(long value);
    long Min() const { return min_; }
    long Max() const { return max_; }
    long Value() const { return value_; }
    // A new bar: 0 to 100, at 0.
    void Reset() { *this = ProgressModel(); }
    // The filled part of a bar drawn in `steps` (> 0) equal steps, from 0 to
    // `steps`; an empty range draws nothing filled.
    int Position(int steps) const;

  private:
    long min_ = 0;
    long max_ = 100;
    long value_ = 0;
};

// What a bar drew last, so that it is drawn again only when its position moves.
class DrawnPosition {
  public:
    explicit DrawnPosition(int steps) : steps_(steps) {}
    // The position to draw, or nothing when it is the one already drawn.
    std::optional<int> Next(const ProgressModel& model);
    // The next Next() draws whatever the position is (a new widget).
    void Forget() { drawn_ = -1; }
    int Steps() const { return steps_; }

  private:
    int steps_;
    int drawn_ = -1;
};

}  // namespace talvane::app
