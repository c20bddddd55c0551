#include "sys/socket_ops.h"

#include <cerrno>
#include <thread>

namespace velgor {

void SocketOps::pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
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
