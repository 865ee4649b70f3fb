#include <sys/socket.h>

#include <cerrno>

#include "platform/platform.h"

namespace talvane::platform {

int LimitReceiveBuffer(std::intptr_t socket, int bytes) {
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0
               ? 0
               : errno;
}

}  // namespace talvane::platform
