#include "support/cloud_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

extern char** environ;

namespace talvane::testing {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// Waits up to `ms` for the child to end; true when it has been reaped.
bool WaitForExit(pid_t pid, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

ScriptProcess::~ScriptProcess() {
    Stop();
}

bool ScriptProcess::Start(const std::vector<std::string>& args, int timeoutMs) {
    Stop();
    int inPipe[2];
    int outPipe[2];
    // CLOEXEC so that no other child inherits our end of the stdin pipe: the
    // script stops when the last writer goes away.
    if (::pipe2(inPipe, O_CLOEXEC) != 0) return false;
    Fd inRead(inPipe[0]), inWrite(inPipe[1]);
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return false;
    Fd outRead(outPipe[0]), outWrite(outPipe[1]);

    std::vector<std::string> argv_s;
    argv_s.push_back(kPython);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: errno %d\n", kPython, rc);
        return false;
    }
    pid_ = pid;
    stdinFd_ = inWrite.release();
    inRead.reset();
    outWrite.reset();

    // Read the first line of stdout.
    std::string buffer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        pollfd p{outRead.get(), POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        char chunk[512];
        ssize_t got = ::read(outRead.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        buffer.append(chunk, static_cast<size_t>(got));
        auto nl = buffer.find('\n');
        if (nl != std::string::npos) {
            line_ = buffer.substr(0, nl);
            return true;
        }
    }
    std::fprintf(stderr, "python helper gave no ready line (got '%s')\n", buffer.c_str());
    Stop();
    return false;
}

void ScriptProcess::Stop() {
    if (stdinFd_ >= 0) {
        ::close(stdinFd_);
        stdinFd_ = -1;
    }
    if (pid_ > 0) {
        if (!WaitForExit(pid_, 5000)) {
            ::kill(pid_, SIGTERM);
            if (!WaitForExit(pid_, 3000)) {
                ::kill(pid_, SIGKILL);
                WaitForExit(pid_, 3000);
            }
        }
        pid_ = -1;
    }
}

std::string ScriptProcess::JsonValue(const std::string& key) const {
    const std::string needle = "\"" + key + "\"";
    auto k = line_.find(needle);
    if (k == std::string::npos) return {};
    auto colon = line_.find(':', k + needle.size());
    if (colon == std::string::npos) return {};
    auto open = line_.find('"', colon + 1);
    if (open == std::string::npos) return {};
    auto close = line_.find('"', open + 1);
    if (close == std::string::npos) return {};
    return line_.substr(open + 1, close - open - 1);
}

std::string CloudServer::ToolPath(const std::string& relative) {
    return std::string(TALVANE_SOURCE_DIR) + "/tools/cloud/" + relative;
}

CloudServer::CloudServer(const CloudOptions& options) {
    std::vector<std::string> args{
        ToolPath("cloud.py"), "serve", "--repo",       options.repoRoot, "--redist",
        options.redistRoot,   "--web", options.webRoot};
    for (const auto& account : options.subscribers) {
        args.push_back("--user");
        args.push_back(account.user + ":" + account.password + ":" + account.home);
    }
    if (!process_.Start(args)) return;
    repository_ = process_.JsonValue("repository");
    redist_ = process_.JsonValue("redist");
    http_ = process_.JsonValue("http");
    ok_ = !repository_.empty() && !redist_.empty() && !http_.empty();
}

CloudServer::~CloudServer() = default;

}  // namespace talvane::testing
