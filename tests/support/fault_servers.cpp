#include "support/fault_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvane::testing {

FaultPeers::FaultPeers() {
    if (!process_.Start({CloudTool("testpeers/fault_peers.py")})) return;
    ftp_ = process_.JsonValue("ftp");
    http_ = process_.JsonValue("http");
}

SilentListener::SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && ::listen(fd_, 8) == 0)
        port_ = ntohs(addr.sin_port);
}

SilentListener::~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace talvane::testing
