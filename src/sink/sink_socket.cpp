#include "sink/sink_socket.h"

#include <cerrno>
#include <cstring>

#include "sys/socket_calls.h"
#include "sys/socket_ops.h"

namespace velgor::sink {
namespace {

// Connections that may wait while one is being served (the relay has one).
constexpr int LISTEN_BACKLOG = 4;
// Serving them all at once (--many): room for a fleet that comes back together.
// The system caps it at its own limit (net.core.somaxconn on Linux).
constexpr int FLEET_BACKLOG = 4096;

std::string describe(bool known, Ipv4Address address, std::uint16_t port) {
    if (!known) return "?";
    return dottedIPv4(address) + ":" + std::to_string(port);
}

}  // namespace

UniqueFd listenTcp(const std::string& address, std::uint16_t port, bool many, std::string& error) {
    Ipv4Address where;
    if (!parseStrictIPv4(address.c_str(), where)) {
        error = "'" + address + "' is not an IPv4 address";
        return {};
    }
    UniqueFd listener = velgor::listenTcp(where, port, many ? FLEET_BACKLOG : LISTEN_BACKLOG);
    if (!listener.valid()) {
        const int why = lastSocketError();
        error =
            "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(why);
    }
    return listener;
}

UniqueFd acceptConnection(int listener) {
    UniqueFd accepted;
    do {
        accepted = velgor::acceptConnection(listener);
    } while (!accepted.valid() && lastSocketError() == EINTR);
    return accepted;
}

std::string localEndpoint(int socket) {
    Ipv4Address address;
    std::uint16_t port = 0;
    const bool known = socketAddress(socket, address, port);
    return describe(known, address, port);
}

std::string peerEndpoint(int socket) {
    Ipv4Address address;
    std::uint16_t port = 0;
    const bool known = peerAddress(socket, address, port);
    return describe(known, address, port);
}

bool sendOnce(int socket, std::string_view text) {
    const long sent = systemSocketOps().send(socket, text.data(), text.size());
    return sent == static_cast<long>(text.size());
}

}  // namespace velgor::sink
