#pragma once
// Stand-ins for the common layer's log sink and wait clock while alive.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/log.h"

namespace talvane::testing {

// Records every DPrint message; the previous sink comes back on exit.
class LogCapture {
  public:
    LogCapture() : sink_(std::make_shared<Sink>()), previous_(GetLogSink()) { SetLogSink(sink_); }
    ~LogCapture() { SetLogSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Messages as written (each begins with a TAB).
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(sink_->mutex);
        return sink_->lines;
    }
    // How many recorded messages contain `text`.
    std::ptrdiff_t count(std::string_view text) const {
        const auto all = lines();
        return std::count_if(all.begin(), all.end(),
                             [&](const std::string& line) { return line.find(text) != line.npos; });
    }
    bool contains(std::string_view text) const { return count(text) > 0; }
    void clear() {
        std::lock_guard<std::mutex> lock(sink_->mutex);
        sink_->lines.clear();
    }

  private:
    struct Sink : LogSink {
        void Write(std::string_view message) override {
            std::lock_guard<std::mutex> lock(mutex);
            lines.emplace_back(message);
        }
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<LogSink> previous_;
};

// A wait clock that moves only when slept on (1 ms real time, so polling does not spin).
class FakeClock final : public WaitClock {
  public:
    FakeClock() { SetClock(this); }
    ~FakeClock() override { SetClock(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    TimePoint Now() override { return now_; }
    void SleepFor(std::chrono::milliseconds duration) override {
        now_ += duration;
        longest = std::max(longest, duration);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::chrono::milliseconds Elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - TimePoint{});
    }

    std::chrono::milliseconds longest{0};

  private:
    TimePoint now_{};
};

}  // namespace talvane::testing
