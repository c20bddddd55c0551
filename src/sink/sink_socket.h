#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sys/unique_fd.h"

namespace velgor::sink {

// A TCP socket listening on the IPv4 address and port (0: any free port), or an
// invalid one with `error` set to the reason. With `many` its backlog is the
// system's largest, for a fleet that connects at once.
[[nodiscard]] UniqueFd listenTcp(const std::string& address, std::uint16_t port, bool many,
                                 std::string& error);
// The next connection waiting on `listener`, or an invalid one.
[[nodiscard]] UniqueFd acceptConnection(int listener);

// "address:port" of the socket's own end, and of its peer.
std::string localEndpoint(int socket);
std::string peerEndpoint(int socket);

// Sends the whole text in one send. Returns whether all of it went.
[[nodiscard]] bool sendOnce(int socket, std::string_view text);

}  // namespace velgor::sink
