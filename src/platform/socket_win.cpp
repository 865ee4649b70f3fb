#include <winsock2.h>

#include "platform/platform.h"

namespace talvane::platform {

int LimitReceiveBuffer(std::intptr_t socket, int bytes) {
    return ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_RCVBUF,
                        reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0
               ? 0
               : ::WSAGetLastError();
}

}  // namespace talvane::platform
