#pragma once
// A wait clock that moves only when slept on, and then at once; a millisecond
// of real time per sleep keeps a polling loop from spinning.
#include <algorithm>
#include <chrono>
#include <thread>

#include "common/clock.h"

namespace talvane::testing {

class FakeClock final : public WaitClock {
  public:
    FakeClock() { SetClock(this); }
    ~FakeClock() override { SetClock(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    TimePoint Now() override { return now_; }
    void SleepFor(std::chrono::milliseconds duration) override {
        now_ += duration;
        ++sleeps;
        longest = std::max(longest, duration);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::chrono::milliseconds Elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - TimePoint{});
    }

    int sleeps = 0;
    std::chrono::milliseconds longest{0};

  private:
    TimePoint now_{};
};

}  // namespace talvane::testing
