#include "sys/socket_ops.h"

#include <sys/socket.h>
#include <sys/types.h>

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

SocketOps& systemSocketOps() {
    static SocketOps ops;
    return ops;
}

}  // namespace velgor
