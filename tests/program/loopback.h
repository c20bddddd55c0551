#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
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

// An X display number nobody serves, held so while the object lives: its
// abstract socket "<socketDir>/X<N>" and its port 127.0.0.1:6000+N are bound
// but do not listen, and no socket file "<socketDir>/X<N>" exists. A test that
// wants one of them to answer makes it listen.
class SilentXDisplay {
  public:
    explicit SilentXDisplay(const std::string& socketDir = "/tmp/.X11-unix");
    ~SilentXDisplay();
    SilentXDisplay(const SilentXDisplay&) = delete;
    SilentXDisplay& operator=(const SilentXDisplay&) = delete;

    unsigned number() const { return number_; }
    std::string name() const { return ":" + std::to_string(number_); }
    int abstractSocket() const { return abstract_; }
    int tcpSocket() const { return tcp_; }

  private:
    unsigned number_ = 0;
    int abstract_ = -1;
    int tcp_ = -1;
};

// A unix datagram socket that takes what a program tells its service manager:
// bound to a path (the file is removed with it) or, for a name beginning '@', to
// that name in the abstract namespace. address() is what NOTIFY_SOCKET holds.
class DatagramListener {
  public:
    explicit DatagramListener(std::string address);
    ~DatagramListener();
    DatagramListener(const DatagramListener&) = delete;
    DatagramListener& operator=(const DatagramListener&) = delete;

    const std::string& address() const { return address_; }
    // The next datagram, or nothing when none comes within the limit.
    std::optional<std::string> next(std::chrono::milliseconds limit);

  private:
    std::string address_;
    int fd_ = -1;
};

// Reads from a connected socket until `text` is among what was read (true) or
// the limit passes; everything read is appended to `into`.
bool readUntil(int fd, const std::string& text, std::string& into, std::chrono::milliseconds limit);
bool sendAll(int fd, const std::string& bytes);

}  // namespace velgor::test
