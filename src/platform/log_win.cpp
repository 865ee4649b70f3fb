// Log sinks: the debugger output (OutputDebugString), standard error, or a file
// opened for appending per message.
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/win_util.h"

namespace talvane::platform {
namespace {

class DebuggerSink : public LogSink {
  public:
    void Write(std::string_view message) override {
        ::OutputDebugStringW(win::Wide(std::string(message)).c_str());
    }
};

class StderrSink : public LogSink {
  public:
    void Write(std::string_view message) override {
        std::string text(message);
        text += '\n';
        std::lock_guard<std::mutex> lock(mutex_);
        win::WriteAll(::GetStdHandle(STD_ERROR_HANDLE), text.data(), text.size());
    }

  private:
    std::mutex mutex_;
};

class FileSink : public LogSink {
  public:
    explicit FileSink(std::string path) : path_(std::move(path)) {}
    void Write(std::string_view message) override {
        std::string text(message);
        text += '\n';
        std::lock_guard<std::mutex> lock(mutex_);
        win::Handle h(::CreateFileW(win::Wide(path_).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h.Valid()) win::WriteAll(h.Get(), text.data(), text.size());
    }

  private:
    std::string path_;
    std::mutex mutex_;
};

}  // namespace

std::shared_ptr<LogSink> MakeSystemLogSink(const char*) {
    return std::make_shared<DebuggerSink>();
}
std::shared_ptr<LogSink> MakeStderrSink() {
    return std::make_shared<StderrSink>();
}
std::shared_ptr<LogSink> MakeFileSink(const std::string& path) {
    return std::make_shared<FileSink>(path);
}

}  // namespace talvane::platform
