#include "app/busy_retry.h"

#include <algorithm>
#include <utility>

#include "net/error_codes.h"

namespace talvane::app {
namespace {

constexpr std::chrono::milliseconds kFirstWait{1000};
constexpr std::chrono::milliseconds kLongestWait{30000};

}  // namespace

bool ServerSaidBusy(const Error& failure) {
    return failure.cause == Cause::ServerRefused && failure.reply >= 400 && failure.reply < 500;
}

bool BusyFailure(const Error& failure) {
    if (failure.cause == Cause::ServerRefused) return ServerSaidBusy(failure);
    // A name that does not resolve stays so: only a server that is there but does not answer.
    return failure.code == static_cast<int>(net::kErrCannotConnect) ||
           failure.code == static_cast<int>(net::kErrTimeout);
}

BusyRetry::BusyRetry(std::chrono::seconds deadline, WaitClock& clock,
                     std::function<double()> random)
    : deadline_(deadline), clock_(clock), random_(std::move(random)) {}

std::chrono::milliseconds BusyRetry::WaitAfter(int n) const {
    const int doublings = std::clamp(n - 1, 0, 5);  // 2^5 s passes 30 s
    const auto full = std::min(kFirstWait * (1 << doublings), kLongestWait);
    const double share = 0.5 + 0.5 * std::clamp(random_(), 0.0, 1.0);
    return std::chrono::milliseconds(
        static_cast<long long>(static_cast<double>(full.count()) * share));
}

bool BusyRetry::Run(const std::function<bool()>& attempt, const std::function<Error()>& failure,
                    const Waiting& waiting) {
    const auto end = clock_.Now() + deadline_;
    for (int n = 1;; ++n) {
        if (attempt()) return true;
        if (!BusyFailure(failure())) return false;
        const std::chrono::milliseconds wait = WaitAfter(n);
        if (clock_.Now() + wait > end) return false;
        if (waiting) waiting(n + 1, wait);
        clock_.SleepFor(wait);
    }
}

}  // namespace talvane::app
