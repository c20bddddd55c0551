#include "links/socket_event.h"

#include <sys/socket.h>

#include <cerrno>

namespace velgor {

int pendingSocketEvent(int socket) {
    char probe = 0;
    const long n = ::recv(socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return FD_READ;
    if (n == 0) return FD_CLOSE;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return FD_NONE;
    return FD_CLOSE | ((errno & 0xFFFF) << 16);
}

}  // namespace velgor
