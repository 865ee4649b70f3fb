#include "support/fault_servers.h"

namespace talvane::testing {

FaultPeers::FaultPeers() {
    if (!process_.Start({CloudTool("testpeers/fault_peers.py")})) return;
    ftp_ = process_.JsonValue("ftp");
    http_ = process_.JsonValue("http");
}

}  // namespace talvane::testing
