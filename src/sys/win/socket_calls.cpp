#include "sys/socket_calls.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <utility>

#include "sys/ip_sockaddr.h"
#include "sys/socket_ops.h"
#include "sys/win/winsock_fd.h"

namespace velgor {
namespace {

// A call's length as Winsock takes it: larger requests go out in parts anyway.
int winsockLength(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// The result of a failed send or receive: errno set as a POSIX call would.
long failedWithSocketError() {
    errno = lastSocketError();
    return -1;
}

}  // namespace

int errnoFromWinsock(int error) {
    switch (error) {
        case WSAEWOULDBLOCK:
            return EWOULDBLOCK;
        case WSAEINPROGRESS:
            return EINPROGRESS;
        case WSAEALREADY:
            return EALREADY;
        case WSAEINTR:
            return EINTR;
        // Sending on a socket shut down for sending: EPIPE, as POSIX gives.
        case WSAESHUTDOWN:
            return EPIPE;
        case WSAECONNRESET:
            return ECONNRESET;
        // Keep-alive found the connection dead: it is reset as accepted as we care.
        case WSAENETRESET:
            return ECONNRESET;
        case WSAECONNABORTED:
            return ECONNABORTED;
        case WSAENOTCONN:
            return ENOTCONN;
        case WSAETIMEDOUT:
            return ETIMEDOUT;
        case WSAEHOSTUNREACH:
            return EHOSTUNREACH;
        case WSAENETUNREACH:
            return ENETUNREACH;
        case WSAENETDOWN:
            return ENETDOWN;
        case WSAECONNREFUSED:
            return ECONNREFUSED;
        case WSAENOTSOCK:
            return ENOTSOCK;
        case WSAEBADF:
            return EBADF;
        case WSAENOBUFS:
            return ENOBUFS;
        case WSAEMSGSIZE:
            return EMSGSIZE;
        case WSAEINVAL:
            return EINVAL;
        case WSAEFAULT:
            return EFAULT;
        case WSAEACCES:
            return EACCES;
        case WSAEADDRINUSE:
            return EADDRINUSE;
        case WSAEADDRNOTAVAIL:
            return EADDRNOTAVAIL;
        default:
            return error;
    }
}

long SocketOps::send(int socket, const void* data, std::size_t length) {
    // Winsock raises no signal for a peer that has gone: no flag needed.
    const int sent =
        ::send(toSocket(socket), static_cast<const char*>(data), winsockLength(length), 0);
    return sent == SOCKET_ERROR ? failedWithSocketError() : sent;
}

long SocketOps::recv(int socket, void* buffer, std::size_t capacity) {
    const int got =
        ::recv(toSocket(socket), static_cast<char*>(buffer), winsockLength(capacity), 0);
    return got == SOCKET_ERROR ? failedWithSocketError() : got;
}

long SocketOps::unsentBytes(int) {
    // Winsock has no count of the bytes the peer has not acknowledged; see
    // capSendBufferWhereUnseen.
    return -1;
}

int lastSocketError() {
    return errnoFromWinsock(::WSAGetLastError());
}

bool parseDottedIPv4(const char* text, Ipv4Address& address) {
    // inet_addr takes the short and octal forms inet_aton takes, but answers the
    // broadcast address with its failure value.
    const unsigned long parsed = ::inet_addr(text);
    if (parsed != INADDR_NONE) {
        address.networkOrder = static_cast<std::uint32_t>(parsed);
        return true;
    }
    in_addr strict{};
    if (::inet_pton(AF_INET, text, &strict) != 1) return false;
    address.networkOrder = strict.s_addr;
    return true;
}

UniqueFd openTcpSocket(AddressFamily family) {
    // Not inherited by programs the relay starts, as SOCK_CLOEXEC on POSIX.
    const SOCKET made = ::WSASocketW(nativeFamily(family), SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return UniqueFd(fromSocket(made));
}

void setNoDelay(int socket) {
    const BOOL on = TRUE;
    (void)::setsockopt(toSocket(socket), IPPROTO_TCP, TCP_NODELAY,
                       reinterpret_cast<const char*>(&on), sizeof on);  // only slower without it
}

bool setNonBlocking(int socket, bool on) {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(toSocket(socket), static_cast<long>(FIONBIO), &mode) == 0;
}

ConnectState startConnect(int socket, const IpAddress& address, std::uint16_t port) {
    const NativeAddress peer = nativeAddress(address, port);
    if (::connect(toSocket(socket), peer.get(), peer.length) == 0) return ConnectState::Connected;
    // A non-blocking connect under way reports WSAEWOULDBLOCK here.
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? ConnectState::Pending : ConnectState::Failed;
}

ConnectState startConnect(int socket, Ipv4Address address, std::uint16_t port) {
    return startConnect(socket, ipAddressOf(address), port);
}

ConnectState waitForConnect(int socket, std::chrono::milliseconds limit) {
    // A failed connect shows in the exception set, a finished one in the write set.
    const SOCKET s = toSocket(socket);
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval wait{};
    wait.tv_sec = static_cast<long>(limit.count() / 1000);
    wait.tv_usec = static_cast<long>((limit.count() % 1000) * 1000);
    const int ready = ::select(0, nullptr, &writable, &failed, &wait);
    if (ready == SOCKET_ERROR) return ConnectState::Failed;
    if (ready == 0) return ConnectState::Pending;
    if (FD_ISSET(s, &failed)) return ConnectState::Failed;
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
        error != 0) {
        return ConnectState::Failed;
    }
    return ConnectState::Connected;
}

void capSendBufferWhereUnseen(int socket) {
    const int size = UNSEEN_SEND_BUFFER_CAP;
    (void)::setsockopt(toSocket(socket), SOL_SOCKET, SO_SNDBUF,
                       reinterpret_cast<const char*>(&size), sizeof size);  // best effort
}

void discardUnsentOnClose(int socket) {
    const linger reset{1, 0};
    (void)::setsockopt(toSocket(socket), SOL_SOCKET, SO_LINGER,
                       reinterpret_cast<const char*>(&reset), sizeof reset);  // else a plain close
}

int takeSocketError(int socket) {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(toSocket(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &size) != 0) {
        return lastSocketError();
    }
    return error == 0 ? 0 : errnoFromWinsock(error);
}

long peekSocket(int socket) {
    // No MSG_DONTWAIT here: ask first whether a peek would wait.
    const SOCKET s = toSocket(socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now{};
    const int ready = ::select(0, &readable, nullptr, nullptr, &now);
    if (ready == SOCKET_ERROR) return -1;
    if (ready == 0) {
        ::WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    char probe = 0;
    const int n = ::recv(s, &probe, 1, MSG_PEEK);
    return n == SOCKET_ERROR ? -1 : n;
}

int pollSockets(std::span<PolledSocket> sockets, std::chrono::milliseconds timeout) {
    std::array<WSAPOLLFD, MAX_POLLED_SOCKETS> fds{};
    if (sockets.size() > fds.size()) {
        ::WSASetLastError(WSAEINVAL);
        return -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        // WSAPoll refuses flags it does not know (POLLPRI among them).
        int events = 0;
        if ((sockets[i].wanted & SOCKET_READABLE) != 0) events |= POLLRDNORM;
        if ((sockets[i].wanted & SOCKET_WRITABLE) != 0) events |= POLLWRNORM;
        fds[i] = WSAPOLLFD{toSocket(sockets[i].socket), static_cast<short>(events), 0};
    }
    const INT wait =
        timeout.count() < 0 ? -1 : static_cast<INT>(std::min<long long>(timeout.count(), INT_MAX));
    const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(sockets.size()), wait);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const short seen = ready > 0 ? fds[i].revents : short{0};
        int found = 0;
        if ((seen & POLLWRNORM) != 0) found |= SOCKET_WRITABLE;
        // Data, the peer's close (POLLHUP), a reset or error, a socket gone bad.
        if ((seen & ~POLLWRNORM) != 0) found |= SOCKET_READABLE;
        // WSAPoll reports these whatever was asked for.
        if ((sockets[i].wanted & SOCKET_PEER_GONE) != 0 &&
            (seen & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            found |= SOCKET_PEER_GONE;
        }
        sockets[i].ready = static_cast<short>(found);
    }
    return ready == SOCKET_ERROR ? -1 : ready;
}

UniqueFd listenTcp(const IpAddress& address, std::uint16_t port, int backlog) {
    // No SO_REUSEADDR: on Windows it would let another socket take the port; a
    // new listener binds past lingering connections without it.
    UniqueFd listener = openTcpSocket(address.family);
    if (!listener.valid()) return {};
    const NativeAddress where = nativeAddress(address, port);
    const SOCKET s = toSocket(listener.get());
    if (::bind(s, where.get(), where.length) != 0 || ::listen(s, backlog) != 0) return {};
    return listener;
}

UniqueFd listenTcp(Ipv4Address address, std::uint16_t port, int backlog) {
    return listenTcp(ipAddressOf(address), port, backlog);
}

UniqueFd acceptConnection(int listener) {
    UniqueFd accepted(fromSocket(::accept(toSocket(listener), nullptr, nullptr)));
    // An accepted socket may be inherited whatever its listener was.
    if (accepted.valid()) {
        (void)::SetHandleInformation(reinterpret_cast<HANDLE>(toSocket(accepted.get())),
                                     HANDLE_FLAG_INHERIT, 0);
    }
    return accepted;
}

namespace {

template <typename Query>
bool endpointOf(int socket, Query query, Ipv4Address& address, std::uint16_t& port) {
    sockaddr_in where{};
    int length = sizeof where;
    if (query(toSocket(socket), reinterpret_cast<sockaddr*>(&where), &length) != 0 ||
        where.sin_family != AF_INET) {
        return false;
    }
    address.networkOrder = where.sin_addr.s_addr;
    port = ::ntohs(where.sin_port);
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
    return ::getsockname(toSocket(socket), where.get(), &where.length) == 0 &&
           fromNativeAddress(where.get(), address, port);
}

bool makeSocketPair(UniqueFd& first, UniqueFd& second) {
    // A loopback connection through a listener that lives only for this.
    UniqueFd listener = openTcpSocket();
    UniqueFd client = openTcpSocket();
    if (!listener.valid() || !client.valid()) return false;
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof where;
    const SOCKET l = toSocket(listener.get());
    if (::bind(l, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(l, 1) != 0 || ::getsockname(l, reinterpret_cast<sockaddr*>(&where), &size) != 0 ||
        ::connect(toSocket(client.get()), reinterpret_cast<const sockaddr*>(&where),
                  sizeof where) != 0) {
        return false;
    }
    UniqueFd accepted(fromSocket(::accept(l, nullptr, nullptr)));
    if (!accepted.valid()) return false;
    // Anyone on this machine could have connected first: the pair must be ours.
    sockaddr_in mine{};
    sockaddr_in theirs{};
    int mineSize = sizeof mine;
    int theirsSize = sizeof theirs;
    if (::getsockname(toSocket(client.get()), reinterpret_cast<sockaddr*>(&mine), &mineSize) != 0 ||
        ::getpeername(toSocket(accepted.get()), reinterpret_cast<sockaddr*>(&theirs),
                      &theirsSize) != 0 ||
        mine.sin_port != theirs.sin_port || mine.sin_addr.s_addr != theirs.sin_addr.s_addr) {
        return false;
    }
    first = std::move(client);
    second = std::move(accepted);
    return true;
}

}  // namespace velgor
