#pragma once
// Runs tools/cloud/cloud.py (two FTP servers and one HTTP server on loopback) for
// the lifetime of the object. The child ends when its stdin pipe closes, so even a
// crashed test process leaves no server behind.
#include <sys/types.h>
#include <string>
#include <vector>

namespace talvane::testing {

struct CloudAccount {
    std::string user, password, home;
};

struct CloudOptions {
    std::string repoRoot, redistRoot, webRoot;
    std::vector<CloudAccount> subscribers;
};

// A python helper started with a pipe on its stdin and one JSON line expected on
// its stdout; stopped (stdin closed, then SIGTERM, then SIGKILL) on destruction.
class ScriptProcess {
  public:
    ScriptProcess() = default;
    ~ScriptProcess();
    ScriptProcess(const ScriptProcess&) = delete;
    ScriptProcess& operator=(const ScriptProcess&) = delete;

    // Starts /usr/bin/python3 with `args` and waits up to `timeoutMs` for the first
    // line on stdout. False (and a message on stderr) when it does not come.
    bool Start(const std::vector<std::string>& args, int timeoutMs = 30000);
    void Stop();
    const std::string& firstLine() const { return line_; }
    // Value of "key": "value" in the JSON line; empty when absent.
    std::string JsonValue(const std::string& key) const;

  private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::string line_;
};

class CloudServer {
  public:
    explicit CloudServer(const CloudOptions& options);
    ~CloudServer();
    CloudServer(const CloudServer&) = delete;
    CloudServer& operator=(const CloudServer&) = delete;

    bool ok() const { return ok_; }
    const std::string& repositoryHost() const { return repository_; }  // "127.0.0.1:PORT"
    const std::string& redistHost() const { return redist_; }
    const std::string& httpBase() const { return http_; }  // no trailing '/'

    // Path of a script under tools/cloud/ in the source tree.
    static std::string ToolPath(const std::string& relative);

  private:
    ScriptProcess process_;
    bool ok_ = false;
    std::string repository_, redist_, http_;
};

}  // namespace talvane::testing
