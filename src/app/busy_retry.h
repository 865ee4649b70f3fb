#pragma once
// A fleet of launchers started by login scripts reaches one server within the same minute. An
// unattended run that finds the server busy (the connection refused, no greeting in time, a
// 4xx "try later" reply such as 421) waits and tries again, each wait about twice the last and
// randomised so that the fleet spreads out, until a deadline. Wrong credentials (530) and
// other refusals are final at once.
#include <chrono>
#include <functional>

#include "common/clock.h"
#include "common/result.h"

namespace talvane::app {

// Whether the server answered "try later" (421 and the other 4xx replies).
bool ServerSaidBusy(const Error& failure);
// Whether a failed sign-in is worth another attempt later.
bool BusyFailure(const Error& failure);

class BusyRetry {
  public:
    using Waiting = std::function<void(int attempt, std::chrono::milliseconds next)>;
    // `random` gives numbers in [0, 1); `deadline` 0 tries once.
    BusyRetry(std::chrono::seconds deadline, WaitClock& clock, std::function<double()> random);

    // Runs `attempt` until it succeeds, `failure()` is not busy, or the next wait would end past
    // the deadline; `waiting` is told before each wait. True when an attempt succeeded.
    bool Run(const std::function<bool()>& attempt, const std::function<Error()>& failure,
             const Waiting& waiting);

    // The wait after failed attempt `n` (1, 2, ...): between half and all of 1 s * 2^(n-1),
    // which stops growing at 30 s.
    std::chrono::milliseconds WaitAfter(int n) const;

  private:
    std::chrono::seconds deadline_;
    WaitClock& clock_;
    std::function<double()> random_;
};

}  // namespace talvane::app
