#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <string>
#include <string_view>

#include "sys/unique_fd.h"

namespace velgor {

// Tells the service manager (systemd, Type=notify) how the program is doing: one
// datagram per message on the AF_UNIX socket that NOTIFY_SOCKET names, a path or,
// with a leading '@', a name in the abstract namespace. Without NOTIFY_SOCKET
// nothing is opened and every call does nothing.
//
// The protocol is these few lines, so the program needs no libsystemd.
class ServiceNotifier {
  public:
    // Inactive: tells nobody.
    ServiceNotifier() = default;
    // `address` as NOTIFY_SOCKET gives it; `watchdog` as WATCHDOG_USEC gives it
    // (zero: the manager watches nothing).
    explicit ServiceNotifier(std::string_view address,
                             std::chrono::microseconds watchdog = std::chrono::microseconds{0});
    // From NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID (a watchdog meant for
    // another process is not ours to feed).
    static ServiceNotifier fromEnvironment();

    bool active() const { return socket_.valid(); }
    // Why a socket was named but cannot be told anything; empty otherwise.
    const std::string& problem() const { return problem_; }
    // The manager's watchdog time-out; zero when there is none.
    std::chrono::microseconds watchdogTimeout() const { return watchdog_; }

    void ready() { (void)send("READY=1"); }
    void stopping() { (void)send("STOPPING=1"); }
    void watchdog() { (void)send("WATCHDOG=1"); }
    // STATUS=<text>, UTF-8, one line (line breaks become blanks); sent only when
    // it differs from the status sent last.
    void status(std::string_view text);

    // One datagram as it is; false when it could not be sent. Never waits: a
    // manager that takes nothing must not hold the main loop up.
    [[nodiscard]] bool send(std::string_view message);

  private:
    UniqueFd socket_;
    sockaddr_un address_{};
    socklen_t addressLength_ = 0;
    std::chrono::microseconds watchdog_{0};
    std::string lastStatus_;
    bool statusSent_ = false;
    std::string problem_;
};

}  // namespace velgor
