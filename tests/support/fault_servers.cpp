#include "support/fault_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvane::testing {

namespace {

int BoundSocket(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

FaultPeers::FaultPeers() {
    if (!process_.Start({CloudServer::ToolPath("testpeers/fault_peers.py")})) return;
    ftp_ = process_.JsonValue("ftp");
    http_ = process_.JsonValue("http");
    ok_ = !ftp_.empty() && !http_.empty();
}

SilentListener::SilentListener() {
    fd_ = BoundSocket(port_);
    if (fd_ >= 0 && ::listen(fd_, 8) != 0) {
        ::close(fd_);
        fd_ = -1;
        port_ = 0;
    }
}

SilentListener::~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
}

int RefusedPort() {
    int port = 0;
    int fd = BoundSocket(port);
    if (fd < 0) return 0;
    ::close(fd);
    return port;
}

}  // namespace talvane::testing
