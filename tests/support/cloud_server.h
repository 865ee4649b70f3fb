#pragma once
// The local cloud (tools/cloud/cloud.py) and misbehaving peers; each child ends with its stdin
// pipe, so even a crashed test leaves no server behind.
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace talvane::testing {

struct CloudAccount {
    std::string user, password, home;
};

struct CloudOptions {
    std::string repoRoot, redistRoot, webRoot;
    std::vector<CloudAccount> subscribers;
    std::string ftpd = "pyftpdlib";  // or a Debian server (tools/cloud/real_ftpd.py)
};

// python3 `args`, whose first stdout line is one JSON object; stopped on destruction.
class ScriptProcess {
  public:
    ScriptProcess();
    ScriptProcess(const ScriptProcess&) = delete;
    ScriptProcess& operator=(const ScriptProcess&) = delete;
    ~ScriptProcess();
    // False (and a message on stderr) when no line comes within 30 s.
    bool Start(std::vector<std::string> args);
    // Value of "key": "value" in the JSON line; empty when absent.
    std::string JsonValue(const std::string& key) const {
        std::smatch m;
        const std::regex re("\"" + key + "\"\\s*:\\s*\"([^\"]*)\"");
        return std::regex_search(line_, m, re) ? m[1].str() : std::string{};
    }

  private:
    struct Child;  // the process and our end of its stdin, or the host connection
    std::unique_ptr<Child> child_;
    std::string line_;
};

class CloudServer {
  public:
    // `log`: the servers' log file (none when empty).
    explicit CloudServer(const CloudOptions& options, const std::string& log = {}) {
        std::vector<std::string> args{std::string(TALVANE_SOURCE_DIR) + "/tools/cloud/cloud.py",
                                      "serve",
                                      "--repo",
                                      options.repoRoot,
                                      "--redist",
                                      options.redistRoot,
                                      "--web",
                                      options.webRoot,
                                      "--ftpd",
                                      options.ftpd};
        for (const auto& account : options.subscribers)
            args.insert(args.end(),
                        {"--user", account.user + ":" + account.password + ":" + account.home});
        if (!log.empty()) args.insert(args.end(), {"--log", log});
        if (!process_.Start(args)) return;
        repository_ = process_.JsonValue("repository");
        redist_ = process_.JsonValue("redist");
        http_ = process_.JsonValue("http");
    }
    bool ok() const { return !repository_.empty() && !redist_.empty() && !http_.empty(); }
    const std::string& repositoryHost() const { return repository_; }  // "127.0.0.1:PORT"
    const std::string& redistHost() const { return redist_; }
    const std::string& httpBase() const { return http_; }  // no trailing '/'

  private:
    ScriptProcess process_;
    std::string repository_, redist_, http_;
};

class FaultPeers {
  public:
    FaultPeers() {
        if (!process_.Start(
                {std::string(TALVANE_SOURCE_DIR) + "/tools/cloud/testpeers/fault_peers.py"}))
            return;
        ftp_ = process_.JsonValue("ftp");
        http_ = process_.JsonValue("http");
    }
    bool ok() const { return !ftp_.empty() && !http_.empty(); }
    const std::string& ftpHost() const { return ftp_; }    // "127.0.0.1:PORT"
    const std::string& httpBase() const { return http_; }  // "http://127.0.0.1:PORT"

  private:
    ScriptProcess process_;
    std::string ftp_, http_;
};

// A loopback port that listens and never accepts; once destroyed, its port refuses.
class SilentListener {
  public:
    SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    ~SilentListener();
    int port() const { return port_; }

  private:
    std::intptr_t socket_ = -1;
    int port_ = 0;
};

// A loopback port that was free a moment ago (connections are refused).
inline int RefusedPort() {
    return SilentListener().port();
}

}  // namespace talvane::testing
