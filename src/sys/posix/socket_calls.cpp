#include "sys/socket_calls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include "sys/ip_sockaddr.h"
#include "sys/socket_ops.h"

namespace velgor {

long SocketOps::send(int socket, const void* data, std::size_t length) {
    // MSG_NOSIGNAL: a peer that has gone away gives EPIPE instead of SIGPIPE.
    return ::send(socket, data, length, MSG_NOSIGNAL);
}

long SocketOps::recv(int socket, void* buffer, std::size_t capacity) {
    return ::recv(socket, buffer, capacity, 0);
}

long SocketOps::unsentBytes(int socket) {
    int unsent = 0;
    if (::ioctl(socket, SIOCOUTQ, &unsent) != 0) return -1;
    return unsent;
}

int lastSocketError() {
    return errno;
}

bool parseDottedIPv4(const char* text, Ipv4Address& address) {
    in_addr parsed{};
    if (inet_aton(text, &parsed) == 0) return false;
    address.networkOrder = parsed.s_addr;
    return true;
}

UniqueFd openTcpSocket(AddressFamily family) {
    return UniqueFd(::socket(nativeFamily(family), SOCK_STREAM | SOCK_CLOEXEC, 0));
}

void setNoDelay(int socket) {
    const int on = 1;
    (void)setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // only slower without it
}

bool setNonBlocking(int socket, bool on) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0) return false;
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return wanted == flags || fcntl(socket, F_SETFL, wanted) == 0;
}

ConnectState startConnect(int socket, const IpAddress& address, std::uint16_t port) {
    const NativeAddress peer = nativeAddress(address, port);
    if (::connect(socket, peer.get(), peer.length) == 0) return ConnectState::Connected;
    return errno == EINPROGRESS ? ConnectState::Pending : ConnectState::Failed;
}

ConnectState startConnect(int socket, Ipv4Address address, std::uint16_t port) {
    return startConnect(socket, ipAddressOf(address), port);
}

ConnectState waitForConnect(int socket, std::chrono::milliseconds limit) {
    pollfd watch{socket, POLLOUT, 0};
    const int ready = poll(&watch, 1, static_cast<int>(limit.count()));
    if (ready < 0) return errno == EINTR ? ConnectState::Pending : ConnectState::Failed;
    if (ready == 0) return ConnectState::Pending;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        return ConnectState::Failed;
    }
    return ConnectState::Connected;
}

void capSendBufferWhereUnseen(int) {
    // SIOCOUTQ tells the unsent bytes here: the system's own buffer size stays.
}

void discardUnsentOnClose(int socket) {
    const linger reset{1, 0};
    (void)setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);  // else a plain close
}

int takeSocketError(int socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

long peekSocket(int socket) {
    char probe = 0;
    return ::recv(socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
}

int pollSockets(std::span<PolledSocket> sockets, std::chrono::milliseconds timeout) {
    std::array<pollfd, MAX_POLLED_SOCKETS> fds{};
    if (sockets.size() > fds.size()) {
        errno = EINVAL;
        return -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        int events = 0;
        if ((sockets[i].wanted & SOCKET_READABLE) != 0) events |= POLLIN;
        if ((sockets[i].wanted & SOCKET_WRITABLE) != 0) events |= POLLOUT;
        if ((sockets[i].wanted & SOCKET_PEER_GONE) != 0) events |= POLLRDHUP;
        fds[i] = pollfd{sockets[i].socket, static_cast<short>(events), 0};
    }
    const int wait =
        timeout.count() < 0 ? -1 : static_cast<int>(std::min<long long>(timeout.count(), INT_MAX));
    const int ready = ::poll(fds.data(), sockets.size(), wait);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const short seen = ready > 0 ? fds[i].revents : short{0};
        int found = 0;
        if ((seen & POLLOUT) != 0) found |= SOCKET_WRITABLE;
        // Data, the peer's close (POLLHUP), an error or a descriptor gone bad.
        if ((seen & ~POLLOUT) != 0) found |= SOCKET_READABLE;
        if ((sockets[i].wanted & SOCKET_PEER_GONE) != 0 &&
            (seen & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0) {
            found |= SOCKET_PEER_GONE;
        }
        sockets[i].ready = static_cast<short>(found);
    }
    return ready;
}

UniqueFd listenTcp(const IpAddress& address, std::uint16_t port, int backlog) {
    UniqueFd listener = openTcpSocket(address.family);
    if (!listener.valid()) return {};
    // A restarted listener may take its port again at once while the old
    // connections linger.
    const int on = 1;
    (void)setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const NativeAddress where = nativeAddress(address, port);
    if (::bind(listener.get(), where.get(), where.length) != 0 ||
        ::listen(listener.get(), backlog) != 0) {
        return {};
    }
    return listener;
}

UniqueFd listenTcp(Ipv4Address address, std::uint16_t port, int backlog) {
    return listenTcp(ipAddressOf(address), port, backlog);
}

UniqueFd acceptConnection(int listener) {
    int fd;
    do {
        fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

namespace {

template <typename Query>
bool endpointOf(int socket, Query query, Ipv4Address& address, std::uint16_t& port) {
    sockaddr_in where{};
    socklen_t length = sizeof where;
    if (query(socket, reinterpret_cast<sockaddr*>(&where), &length) != 0 ||
        where.sin_family != AF_INET) {
        return false;
    }
    address.networkOrder = where.sin_addr.s_addr;
    port = ntohs(where.sin_port);
    return true;
}

}  // namespace

bool socketAddress(int socket, Ipv4Address& address, std::uint16_t& port) {
    return endpointOf(socket, ::getsockname, address, port);
}

bool peerAddress(int socket, Ipv4Address& address, std::uint16_t& port) {
    return endpointOf(socket, ::getpeername, address, port);
}

bool socketAddress(int socket, IpAddress& address, std::uint16_t& port) {
    NativeAddress where;
    where.length = sizeof where.storage;
    return ::getsockname(socket, where.get(), &where.length) == 0 &&
           fromNativeAddress(where.get(), address, port);
}

bool makeSocketPair(UniqueFd& first, UniqueFd& second) {
    int pair[2] = {INVALID_FD, INVALID_FD};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    first.reset(pair[0]);
    second.reset(pair[1]);
    return true;
}

}  // namespace velgor
