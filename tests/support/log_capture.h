#pragma once
// Records every DPrint message while alive; the previous sink comes back on exit.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"

namespace talvane::testing {

class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Messages as written (each begins with a TAB).
    std::vector<std::string> lines() const;
    // True when any recorded message contains `text`.
    bool contains(std::string_view text) const;
    void clear();

  private:
    struct Sink;
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<talvane::LogSink> previous_;
};

}  // namespace talvane::testing
