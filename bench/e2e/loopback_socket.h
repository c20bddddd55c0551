#pragma once

#include <chrono>
#include <cstdint>

namespace velgor::e2e {

// A socket descriptor that closes itself.
class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void close();

  private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1, port chosen by the system.
struct Listener {
    Socket socket;
    std::uint16_t port = 0;
};
Listener listenLoopback();
// The next connection on the listener, or an invalid socket after `limit`.
Socket acceptWithin(const Listener& listener, std::chrono::milliseconds limit);
// Connects to 127.0.0.1:port, trying again every 20 ms until `limit` passes.
Socket connectLoopbackWithin(std::uint16_t port, std::chrono::milliseconds limit);
// A port that was free a moment ago (for programs that cannot take port 0).
std::uint16_t pickFreePort();
void setNoDelay(int fd);
// Sends all of it; false when the peer has gone.
bool sendAll(int fd, const char* data, std::size_t length);

}  // namespace velgor::e2e
