#pragma once

#include <chrono>
#include <cstdint>

#include "sys/unique_fd.h"

namespace velgor::e2e {

// A listening socket on 127.0.0.1, port chosen by the system.
struct Listener {
    UniqueFd socket;
    std::uint16_t port = 0;
};
Listener listenLoopback();
// The next connection on the listener, or an invalid socket after `limit`.
UniqueFd acceptWithin(const Listener& listener, std::chrono::milliseconds limit);
// Connects to 127.0.0.1:port, trying again every 20 ms until `limit` passes.
UniqueFd connectLoopbackWithin(std::uint16_t port, std::chrono::milliseconds limit);
// A port that was free a moment ago (for programs that cannot take port 0).
std::uint16_t pickFreePort();
void setNoDelay(int fd);
// Sends all of it; false when the peer has gone.
bool sendAll(int fd, const char* data, std::size_t length);

}  // namespace velgor::e2e
