#pragma once
// Runs tools/cloud/cloud.py (two FTP servers and one HTTP server on loopback) for
// the lifetime of the object. The child ends when its stdin pipe closes, so even a
// crashed test process leaves no server behind.
#include <memory>
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

// /usr/bin/python3 with `args`, stdin a pipe; its first stdout line is one JSON
// object. Stopped (stdin closed, then SIGKILL) on destruction. Under Wine the
// script is started by tools/windows/script_host.py and lives as long as the
// connection to it.
class ScriptProcess {
  public:
    ScriptProcess();
    ScriptProcess(const ScriptProcess&) = delete;
    ScriptProcess& operator=(const ScriptProcess&) = delete;
    ~ScriptProcess();
    // False (and a message on stderr) when no line comes within 30 s.
    bool Start(std::vector<std::string> args);
    // Value of "key": "value" in the JSON line; empty when absent.
    std::string JsonValue(const std::string& key) const;

  private:
    struct Child;  // the process and our end of its stdin, or the host connection
    std::unique_ptr<Child> child_;
    std::string line_;
};

std::string CloudTool(const std::string& relative);  // tools/cloud/<relative> in the sources

class CloudServer {
  public:
    explicit CloudServer(const CloudOptions& options);
    bool ok() const { return !repository_.empty() && !redist_.empty() && !http_.empty(); }
    const std::string& repositoryHost() const { return repository_; }  // "127.0.0.1:PORT"
    const std::string& redistHost() const { return redist_; }
    const std::string& httpBase() const { return http_; }  // no trailing '/'

  private:
    ScriptProcess process_;
    std::string repository_, redist_, http_;
};

}  // namespace talvane::testing
