#include "sys/socket_ops.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <thread>

namespace velgor {

long SocketOps::send(int socket, const void* data, std::size_t length) {
    // MSG_NOSIGNAL: a peer that has gone away gives EPIPE instead of SIGPIPE.
    return ::send(socket, data, length, MSG_NOSIGNAL);
}

long SocketOps::recv(int socket, void* buffer, std::size_t capacity) {
    return ::recv(socket, buffer, capacity, 0);
}

void SocketOps::pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

long SocketOps::unsentBytes(int socket) {
    int unsent = 0;
    if (::ioctl(socket, SIOCOUTQ, &unsent) != 0) return -1;
    return unsent;
}

bool sendErrorIsFinal(int error) {
    switch (error) {
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case EBADF:
        case ENOTSOCK:
            return true;
        default:
            return false;
    }
}

SocketOps& systemSocketOps() {
    static SocketOps ops;
    return ops;
}

}  // namespace velgor
