#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "sys/unique_fd.h"

namespace velgor {

// The socket calls of the links, in one place for every platform. A socket is the
// int a UniqueFd holds (on Windows a SOCKET, which fits: handles carry 32
// significant bits). Errors come back as errno values on every platform (Winsock's
// codes are mapped to their errno twins), so one classification serves all.

// An IPv4 address in network byte order.
struct Ipv4Address {
    std::uint32_t networkOrder = 0;
};

// The error of the last failed socket call on this thread, as an errno value.
[[nodiscard]] int lastSocketError();

// A dotted address ("127.0.0.1"; the short forms inet_aton takes on POSIX);
// false when the text is none.
[[nodiscard]] bool parseDottedIPv4(const char* text, Ipv4Address& address);
// The first IPv4 address the system's resolver gives for a name. Blocks for as
// long as the resolver takes.
[[nodiscard]] bool lookUpIPv4(const std::string& host, Ipv4Address& address);
// "a.b.c.d".
[[nodiscard]] std::string dottedIPv4(Ipv4Address address);

// A new TCP socket that programs started by the relay do not inherit, or an
// invalid one.
[[nodiscard]] UniqueFd openTcpSocket();
// Switches off send coalescing (TCP_NODELAY); failures are ignored.
void setNoDelay(int socket);
// Switches non-blocking mode on or off. Returns false on failure.
[[nodiscard]] bool setNonBlocking(int socket, bool on);

// How a connect on a non-blocking socket stands.
enum class ConnectState { Connected, Pending, Failed };
// Starts a connect on a non-blocking socket.
[[nodiscard]] ConnectState startConnect(int socket, Ipv4Address address, std::uint16_t port);
// Waits at most `limit` for a pending connect to end.
[[nodiscard]] ConnectState waitForConnect(int socket, std::chrono::milliseconds limit);

// The consumer socket's send buffer where the platform cannot tell how much of
// it the peer has not yet taken (SocketOps::unsentBytes gives -1): the outgoing
// queue then sees a stalled peer once this much has gone into the socket.
inline constexpr int UNSEEN_SEND_BUFFER_CAP = 64 * 1024;
// Caps the send buffer at UNSEEN_SEND_BUFFER_CAP on such a platform; elsewhere
// (and on failure) it leaves the socket as it is.
void capSendBufferWhereUnseen(int socket);

// Looks at the next byte without taking it and without waiting: 1 when a byte
// waits, 0 at the peer's orderly close, -1 otherwise (lastSocketError() says
// why; EWOULDBLOCK when nothing has come yet).
[[nodiscard]] long peekSocket(int socket);

// Two connected stream sockets (a local socket pair on POSIX, a loopback TCP
// connection on Windows). False, both left invalid, when they cannot be made.
[[nodiscard]] bool makeSocketPair(UniqueFd& first, UniqueFd& second);

}  // namespace velgor
