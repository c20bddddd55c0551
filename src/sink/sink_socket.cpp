#include "sink/sink_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace velgor::sink {
namespace {

// Connections that may wait while one is being served (the relay has one).
constexpr int LISTEN_BACKLOG = 4;

std::string describe(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

template <typename Query>
std::string endpointOf(int socket, Query query) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (query(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "?";
    return describe(address);
}

}  // namespace

UniqueFd listenTcp(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "'" + address + "' is not an IPv4 address";
        return {};
    }
    const std::string endpoint = address + ":" + std::to_string(port);
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.valid()) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return {};
    }
    // Lets a restarted sink listen again at once while old connections linger.
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        error = "cannot listen on " + endpoint + ": " + std::strerror(errno);
        return {};
    }
    if (::listen(listener.get(), LISTEN_BACKLOG) != 0) {
        error = "cannot listen on " + endpoint + ": " + std::strerror(errno);
        return {};
    }
    return listener;
}

UniqueFd acceptConnection(int listener) {
    int fd;
    do {
        fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

std::string localEndpoint(int socket) {
    return endpointOf(socket, ::getsockname);
}

std::string peerEndpoint(int socket) {
    return endpointOf(socket, ::getpeername);
}

bool sendOnce(int socket, std::string_view text) {
    const ssize_t sent = ::send(socket, text.data(), text.size(), MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(text.size());
}

}  // namespace velgor::sink
