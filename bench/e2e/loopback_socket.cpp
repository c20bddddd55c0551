#include "e2e/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <thread>
#include <utility>

#include "support/loopback_address.h"

namespace velgor::e2e {
namespace {

using test::loopbackAddress;

sockaddr* asSockaddr(sockaddr_in& address) {
    return reinterpret_cast<sockaddr*>(&address);
}

}  // namespace

Listener listenLoopback() {
    Listener listener;
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return listener;
    sockaddr_in address = loopbackAddress(0);
    socklen_t size = sizeof address;
    if (::bind(socket.get(), asSockaddr(address), sizeof address) != 0 ||
        ::listen(socket.get(), 4) != 0 ||
        ::getsockname(socket.get(), asSockaddr(address), &size) != 0) {
        return listener;
    }
    listener.port = ntohs(address.sin_port);
    listener.socket = std::move(socket);
    return listener;
}

UniqueFd acceptWithin(const Listener& listener, std::chrono::milliseconds limit) {
    pollfd watched{listener.socket.get(), POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(limit.count())) != 1) return UniqueFd();
    return UniqueFd(::accept4(listener.socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

UniqueFd connectLoopbackWithin(std::uint16_t port, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address = loopbackAddress(port);
        if (socket.valid() && ::connect(socket.get(), asSockaddr(address), sizeof address) == 0) {
            return socket;
        }
        if (std::chrono::steady_clock::now() >= deadline) return UniqueFd();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::uint16_t pickFreePort() {
    Listener listener = listenLoopback();
    return listener.port;
}

void setNoDelay(int fd) {
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool sendAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace velgor::e2e
