#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

// An address of either family, as a link connects to it.
enum class AddressFamily : std::uint8_t { IPv4, IPv6 };
struct IpAddress {
    AddressFamily family = AddressFamily::IPv4;
    std::array<std::uint8_t, 16> bytes{};  // network order; IPv4 fills the first 4
    std::uint32_t scopeId = 0;             // the interface of a link-local IPv6 address
    bool operator==(const IpAddress&) const = default;
};
[[nodiscard]] IpAddress ipAddressOf(Ipv4Address address);

// The error of the last failed socket call on this thread, as an errno value.
[[nodiscard]] int lastSocketError();

// A dotted address ("127.0.0.1"; the short forms inet_aton takes on POSIX);
// false when the text is none.
[[nodiscard]] bool parseDottedIPv4(const char* text, Ipv4Address& address);
// Exactly four decimal numbers, dotted (inet_pton's rule); false for anything else.
[[nodiscard]] bool parseStrictIPv4(const char* text, Ipv4Address& address);
// "a.b.c.d".
[[nodiscard]] std::string dottedIPv4(Ipv4Address address);

// An IPv6 address written plainly ("::1", "2001:db8::7"); false for anything else.
[[nodiscard]] bool parseIPv6(const char* text, IpAddress& address);
// Every address the system's resolver gives for a name (or a numeric text),
// IPv6 and IPv4, in the order it gives them (the system's preference); empty when
// it knows none. Blocks for as long as the resolver takes.
[[nodiscard]] std::vector<IpAddress> lookUpAddresses(const std::string& host);
// How a name is turned into its addresses (lookUpAddresses, or a test's own).
using NameLookUp = std::vector<IpAddress> (*)(const std::string& host);
// "a.b.c.d" or the short IPv6 form ("::1"), as the status line shows it.
[[nodiscard]] std::string addressText(const IpAddress& address);

// A new TCP socket that programs started by the relay do not inherit, or an
// invalid one.
[[nodiscard]] UniqueFd openTcpSocket(AddressFamily family = AddressFamily::IPv4);
// Switches off send coalescing (TCP_NODELAY); failures are ignored.
void setNoDelay(int socket);
// Switches non-blocking mode on or off. Returns false on failure.
[[nodiscard]] bool setNonBlocking(int socket, bool on);

// How a connect on a non-blocking socket stands.
enum class ConnectState { Connected, Pending, Failed };
// Starts a connect on a non-blocking socket of the address's family.
[[nodiscard]] ConnectState startConnect(int socket, const IpAddress& address, std::uint16_t port);
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

// Makes the socket's close reset the connection, so that what the peer has not
// taken yet is discarded instead of sent after the close.
void discardUnsentOnClose(int socket);
// The error a connection failed with, as an errno value (0 for none); clears it.
[[nodiscard]] int takeSocketError(int socket);

// Looks at the next byte without taking it and without waiting: 1 when a byte
// waits, 0 at the peer's orderly close, -1 otherwise (lastSocketError() says
// why; EWOULDBLOCK when nothing has come yet).
[[nodiscard]] long peekSocket(int socket);

// What pollSockets watches for and reports. SOCKET_READABLE is reported for the
// peer's close, a reset and an error too: a read (or peekSocket) tells which.
inline constexpr short SOCKET_READABLE = 0x1;
inline constexpr short SOCKET_WRITABLE = 0x2;
// The peer's close, a reset or an error, watched for without the socket's data
// (bytes that came before it still wait to be read).
inline constexpr short SOCKET_PEER_GONE = 0x4;

struct PolledSocket {
    int socket = INVALID_FD;
    short wanted = 0;  // SOCKET_READABLE, SOCKET_WRITABLE and/or SOCKET_PEER_GONE
    short ready = 0;   // set by pollSockets
};
// The most sockets one pollSockets call takes.
inline constexpr std::size_t MAX_POLLED_SOCKETS = 8;
// Waits until one of `sockets` is ready or `timeout` has passed (a negative one
// waits without limit): poll(2) on POSIX, where any descriptor may be watched,
// WSAPoll on Windows, where only sockets may. Returns how many are ready (0 when
// the time passed), or -1 on failure (lastSocketError() says why).
[[nodiscard]] int pollSockets(std::span<PolledSocket> sockets, std::chrono::milliseconds timeout);

// A TCP socket listening on address:port (port 0: any free one) that programs
// started by the relay do not inherit, or an invalid one (lastSocketError() says
// why).
[[nodiscard]] UniqueFd listenTcp(const IpAddress& address, std::uint16_t port, int backlog);
[[nodiscard]] UniqueFd listenTcp(Ipv4Address address, std::uint16_t port, int backlog);
// The next connection waiting on `listener`, not inherited either, or an invalid
// one. It waits for one unless the listener is non-blocking.
[[nodiscard]] UniqueFd acceptConnection(int listener);
// The address and port of the socket's own end, and of its peer's; false on
// failure.
[[nodiscard]] bool socketAddress(int socket, Ipv4Address& address, std::uint16_t& port);
[[nodiscard]] bool peerAddress(int socket, Ipv4Address& address, std::uint16_t& port);
// The same for a socket of either family.
[[nodiscard]] bool socketAddress(int socket, IpAddress& address, std::uint16_t& port);

// Two connected stream sockets (a local socket pair on POSIX, a loopback TCP
// connection on Windows). False, both left invalid, when they cannot be made.
[[nodiscard]] bool makeSocketPair(UniqueFd& first, UniqueFd& second);

}  // namespace velgor
