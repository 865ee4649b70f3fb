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
    // CLOEXEC so that no other child inherits our end of the stdin pipe: the
    // script stops when the last writer goes away.
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    std::vector<std::string> argvS{kPython};
    argvS.insert(argvS.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvS) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const int rc = ::posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    if (rc != 0) pid_ = -1;

    // Read the first line of stdout.
    std::string buffer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (rc == 0 && buffer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{out[0], POLLIN, 0};
        const int n = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (n < 0 && errno == EINTR) continue;
        char chunk[512];
        const ssize_t got = n > 0 ? ::read(out[0], chunk, sizeof chunk) : 0;
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        buffer.append(chunk, static_cast<size_t>(got));
    }
    ::close(out[0]);
    if (const auto nl = buffer.find('\n'); nl != std::string::npos) {
        line_ = buffer.substr(0, nl);
        return true;
    }
    std::fprintf(stderr, "python helper gave no ready line (rc %d, got '%s')\n", rc,
                 buffer.c_str());
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
    constexpr auto npos = std::string::npos;
    const std::string needle = "\"" + key + "\"";
    const auto k = line_.find(needle);
    const auto colon = k == npos ? npos : line_.find(':', k + needle.size());
    const auto open = colon == npos ? npos : line_.find('"', colon + 1);
    const auto close = open == npos ? npos : line_.find('"', open + 1);
    return close == npos ? std::string{} : line_.substr(open + 1, close - open - 1);
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
