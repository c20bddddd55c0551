#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velgor::test {

// A listening socket on 127.0.0.1 with a port chosen by the system.
class LoopbackListener {
  public:
    explicit LoopbackListener(int backlog = 8);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t port() const { return port_; }
    int fd() const { return fd_; }
    // The next connection, or -1 when none comes within the limit.
    int accept(std::chrono::milliseconds limit);
    // Fills the accept queue with connections nobody accepts, so that further
    // connects hang.
    void fillBacklog();

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    int fillers_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// Reads from a connected socket until `text` is among what was read (true) or
// the limit passes; everything read is appended to `into`.
bool readUntil(int fd, const std::string& text, std::string& into, std::chrono::milliseconds limit);
bool sendAll(int fd, const std::string& bytes);

}  // namespace velgor::test
