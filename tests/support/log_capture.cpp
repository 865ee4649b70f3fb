#include "support/log_capture.h"

#include <algorithm>
#include <mutex>

namespace talvane::testing {

struct LogCapture::Sink : talvane::LogSink {
    void Write(std::string_view message) override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(message);
    }
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()), previous_(talvane::GetLogSink()) {
    talvane::SetLogSink(sink_);
}

LogCapture::~LogCapture() {
    talvane::SetLogSink(previous_);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(sink_->mutex);
    return sink_->lines;
}

bool LogCapture::contains(std::string_view text) const {
    std::lock_guard<std::mutex> lock(sink_->mutex);
    return std::any_of(sink_->lines.begin(), sink_->lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(sink_->mutex);
    sink_->lines.clear();
}

}  // namespace talvane::testing
