#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velgor::sink {

// Move-only owner of a file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// A TCP socket listening on the IPv4 address and port (0: any free port), or an
// invalid one with `error` set to the reason.
[[nodiscard]] UniqueFd listenTcp(const std::string& address, std::uint16_t port,
                                 std::string& error);
// The next connection waiting on `listener`, or an invalid one.
[[nodiscard]] UniqueFd acceptConnection(int listener);

// "address:port" of the socket's own end, and of its peer.
std::string localEndpoint(int socket);
std::string peerEndpoint(int socket);

// Sends the whole text in one send. Returns whether all of it went.
[[nodiscard]] bool sendOnce(int socket, std::string_view text);

}  // namespace velgor::sink
