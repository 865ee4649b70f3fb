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
#include <regex>
#include <thread>

extern char** environ;

namespace talvane::testing {

using namespace std::chrono;

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
        rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = -1;
    }
    for (int fd : {in[0], out[1]})
        if (fd >= 0) ::close(fd);
    stdinFd_ = in[1];

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
    if (stdinFd_ >= 0) ::close(stdinFd_);
    if (pid_ <= 0) return;
    for (int i = 0; i < 250; ++i) {  // 5 s to end after its stdin closed
        if (::waitpid(pid_, nullptr, WNOHANG) != 0) return;
        std::this_thread::sleep_for(milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

std::string ScriptProcess::JsonValue(const std::string& key) const {
    std::smatch m;
    const std::regex re("\"" + key + "\"\\s*:\\s*\"([^\"]*)\"");
    return std::regex_search(line_, m, re) ? m[1].str() : std::string{};
}

std::string CloudTool(const std::string& relative) {
    return std::string(TALVANE_SOURCE_DIR) + "/tools/cloud/" + relative;
}

CloudServer::CloudServer(const CloudOptions& options) {
    std::vector<std::string> args{
        CloudTool("cloud.py"), "serve", "--repo",       options.repoRoot, "--redist",
        options.redistRoot,    "--web", options.webRoot};
    for (const auto& account : options.subscribers)
        args.insert(args.end(),
                    {"--user", account.user + ":" + account.password + ":" + account.home});
    if (!process_.Start(args)) return;
    repository_ = process_.JsonValue("repository");
    redist_ = process_.JsonValue("redist");
    http_ = process_.JsonValue("http");
}

}  // namespace talvane::testing
