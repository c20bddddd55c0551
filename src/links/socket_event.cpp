#include "links/socket_event.h"

#include <cerrno>

#include "sys/socket_calls.h"

namespace velgor {

int pendingSocketEvent(int socket) {
    const long n = peekSocket(socket);
    if (n > 0) return FD_READ;
    if (n == 0) return FD_CLOSE;
    const int error = lastSocketError();
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) return FD_NONE;
    return FD_CLOSE | ((error & 0xFFFF) << 16);
}

int peerGoneEvent(int socket) {
    return FD_CLOSE | ((takeSocketError(socket) & 0xFFFF) << 16);
}

}  // namespace velgor
