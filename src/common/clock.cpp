#include "common/clock.h"

#include <thread>

namespace talvane {

namespace {

class SystemClock final : public WaitClock {
  public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    void SleepFor(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

SystemClock g_system;
WaitClock* g_clock = &g_system;

}  // namespace

WaitClock& CurrentClock() {
    return *g_clock;
}

void SetClock(WaitClock* clock) {
    g_clock = clock ? clock : &g_system;
}

}  // namespace talvane
