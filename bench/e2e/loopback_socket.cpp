#include "e2e/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

Socket::~Socket() {
    close();
}

Socket::Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void Socket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Listener listenLoopback() {
    Listener listener;
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return listener;
    sockaddr_in address = loopbackAddress(0);
    socklen_t size = sizeof address;
    if (::bind(socket.fd(), asSockaddr(address), sizeof address) != 0 ||
        ::listen(socket.fd(), 4) != 0 ||
        ::getsockname(socket.fd(), asSockaddr(address), &size) != 0) {
        return listener;
    }
    listener.port = ntohs(address.sin_port);
    listener.socket = std::move(socket);
    return listener;
}

Socket acceptWithin(const Listener& listener, std::chrono::milliseconds limit) {
    pollfd watched{listener.socket.fd(), POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(limit.count())) != 1) return Socket();
    return Socket(::accept4(listener.socket.fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

Socket connectLoopbackWithin(std::uint16_t port, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address = loopbackAddress(port);
        if (socket.valid() && ::connect(socket.fd(), asSockaddr(address), sizeof address) == 0) {
            return socket;
        }
        if (std::chrono::steady_clock::now() >= deadline) return Socket();
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
