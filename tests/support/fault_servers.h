#pragma once
// Misbehaving peers for transfer tests: scripted FTP/HTTP servers
// (tools/cloud/testpeers/fault_peers.py), a port that accepts connections but
// never speaks, and a port where nothing listens.
#include <cstdint>

#include "support/cloud_server.h"  // std::string, ScriptProcess

namespace talvane::testing {

class FaultPeers {
  public:
    FaultPeers();
    bool ok() const { return !ftp_.empty() && !http_.empty(); }
    const std::string& ftpHost() const { return ftp_; }    // "127.0.0.1:PORT"
    const std::string& httpBase() const { return http_; }  // "http://127.0.0.1:PORT"

  private:
    ScriptProcess process_;
    std::string ftp_, http_;
};

// A loopback port that listens and never accepts: connections complete in the
// kernel, then nothing is ever said. Once destroyed, its port refuses.
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
