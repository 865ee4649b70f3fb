// The test helpers that differ on Linux.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/cloud_server.h"
#include "support/file_util.h"

extern char** environ;

namespace talvane::testing {

using namespace std::chrono;
namespace fs = std::filesystem;

std::string NewTempFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string templ = (env && *env == '/') ? env : "/tmp";
    templ += "/talvane-test-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + templ);
    return fs::path(templ).lexically_normal().string();
}

int RunAsNobody(const std::function<bool()>& scenario) {
    constexpr uid_t kNobody = 65534;
    const pid_t pid = ::fork();
    if (pid < 0) return 3;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        ::_exit(scenario() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

int RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& outFile) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int code = -1, status = 0;
    if (!argv.empty() && posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) == 0 &&
        ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        code = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&fa);
    return code;
}

void SetEnv(const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

long PeakMemoryKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct ScriptProcess::Child {
    pid_t pid = -1;
    int stdinFd = -1;
};

ScriptProcess::ScriptProcess() : child_(std::make_unique<Child>()) {}

bool ScriptProcess::Start(std::vector<std::string> args) {
    // CLOEXEC so that no other child inherits our end of the stdin pipe: the
    // script stops when the last writer goes away.
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    int rc = ::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ? errno : 0;
    args.insert(args.begin(), "/usr/bin/python3");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (rc == 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        rc = ::posix_spawn(&child_->pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) child_->pid = -1;
    }
    for (int fd : {in[0], out[1]})
        if (fd >= 0) ::close(fd);
    child_->stdinFd = in[1];

    std::string buffer;
    const auto deadline = steady_clock::now() + seconds(30);
    while (rc == 0 && buffer.find('\n') == std::string::npos) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd p{out[0], POLLIN, 0};
        const int n = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        char chunk[512];
        const ssize_t got = n > 0 ? ::read(out[0], chunk, sizeof chunk) : n;
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        buffer.append(chunk, static_cast<size_t>(got));
    }
    if (out[0] >= 0) ::close(out[0]);
    line_ = buffer.substr(0, buffer.find('\n'));
    if (line_.size() < buffer.size()) return true;
    std::fprintf(stderr, "python helper gave no ready line (rc %d, got '%s')\n", rc,
                 buffer.c_str());
    return false;
}

ScriptProcess::~ScriptProcess() {
    if (child_->stdinFd >= 0) ::close(child_->stdinFd);
    const pid_t pid = child_->pid;
    if (pid <= 0) return;
    for (int i = 0; i < 250; ++i) {  // 5 s to end after its stdin closed
        if (::waitpid(pid, nullptr, WNOHANG) != 0) return;
        std::this_thread::sleep_for(milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

SilentListener::SilentListener() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    const int fd = static_cast<int>(socket_);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && ::listen(fd, 8) == 0)
        port_ = ntohs(addr.sin_port);
}

SilentListener::~SilentListener() {
    if (socket_ >= 0) ::close(static_cast<int>(socket_));
}

}  // namespace talvane::testing
