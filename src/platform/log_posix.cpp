// Log sinks: syslog, standard error, or a file opened for appending per message.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>
#include <cerrno>

#include <mutex>
#include <string>

#include "platform/platform.h"

namespace talvane::platform {
namespace {

// Writes the whole buffer, retrying after interrupted or short writes.
void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

class SyslogSink : public LogSink {
  public:
    explicit SyslogSink(const char* identity) : identity_(identity) {
        ::openlog(identity_.c_str(), LOG_PID, LOG_USER);
    }
    void Write(std::string_view message) override {
        std::string text(message);
        ::syslog(LOG_DEBUG, "%s", text.c_str());
    }

  private:
    std::string identity_;  // openlog keeps the pointer
};

class StderrSink : public LogSink {
  public:
    void Write(std::string_view message) override {
        std::string text(message);
        text += '\n';
        std::lock_guard<std::mutex> lock(mutex_);
        WriteAll(STDERR_FILENO, text);
    }

  private:
    std::mutex mutex_;
};

// Opens the file for each message so that a log rotated or deleted meanwhile
// is simply created again.
class FileSink : public LogSink {
  public:
    explicit FileSink(std::string path) : path_(std::move(path)) {}
    void Write(std::string_view message) override {
        std::string text(message);
        text += '\n';
        std::lock_guard<std::mutex> lock(mutex_);
        int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return;
        WriteAll(fd, text);
        ::close(fd);
    }

  private:
    std::string path_;
    std::mutex mutex_;
};

}  // namespace

std::shared_ptr<LogSink> MakeSystemLogSink(const char* identity) {
    return std::make_shared<SyslogSink>(identity);
}
std::shared_ptr<LogSink> MakeStderrSink() {
    return std::make_shared<StderrSink>();
}
std::shared_ptr<LogSink> MakeFileSink(const std::string& path) {
    return std::make_shared<FileSink>(path);
}

}  // namespace talvane::platform
