#pragma once

namespace velgor {

// "No descriptor". On POSIX systems sockets, pipes, eventfds and files are all
// small ints and share this value. On Windows the core's descriptors are all
// sockets: a SOCKET is held in the int (handles carry 32 significant bits, and
// INVALID_SOCKET narrows to this value), and UniqueFd closes it as a socket.
inline constexpr int INVALID_FD = -1;
inline constexpr int INVALID_SOCKET_HANDLE = INVALID_FD;

// The one owner of a descriptor: closes it on destruction and on reset, moves
// but never copies. Code that owns a descriptor holds it in one of these and
// never closes it by hand; others get the bare value from get().
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ != INVALID_FD; }
    explicit operator bool() const { return valid(); }

    // Gives the descriptor up without closing it.
    int release() {
        const int fd = fd_;
        fd_ = INVALID_FD;
        return fd;
    }
    // Closes the descriptor held, if any, and takes `fd` instead.
    void reset(int fd = INVALID_FD);

  private:
    int fd_ = INVALID_FD;
};

}  // namespace velgor
