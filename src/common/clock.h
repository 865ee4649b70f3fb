#pragma once
// The clock the program's waits run on: the polls for a started program and
// Delay. Tests put a clock here that advances without waiting.
#include <chrono>

namespace talvane {

class WaitClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~WaitClock() = default;
    virtual TimePoint Now() = 0;
    virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// The clock in use; the monotonic system clock unless one was installed.
WaitClock& CurrentClock();
// Installs `clock` (nullptr: the system clock again). The caller keeps it alive.
void SetClock(WaitClock* clock);

}  // namespace talvane
