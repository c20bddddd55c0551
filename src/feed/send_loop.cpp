#include "feed/send_loop.h"

#include <cstddef>

namespace velgor {

int sendWithRetry(SocketOps& ops, int socket, const char* data, int length) {
    int attempts = 0;
    std::size_t offset = 0;
    std::size_t remaining = length > 0 ? static_cast<std::size_t>(length) : 0;
    for (;;) {
        const long sent = ops.send(socket, data + offset, remaining);
        if (sent >= 0) {
            const auto sentBytes = static_cast<std::size_t>(sent);
            if (sentBytes >= remaining) break;
            offset += sentBytes;
            remaining -= sentBytes;
        }
        ++attempts;
        if (attempts >= SEND_ATTEMPTS_MAX) break;
        ops.pause(SEND_RETRY_PAUSE);
        if (socket == INVALID_SOCKET_HANDLE) break;
    }
    return attempts;
}

}  // namespace velgor
