#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

#include "e2e/loopback_socket.h"

namespace velgor::e2e {

// The cheapest way to put one line on the consumer link: a connected loopback
// TCP pair with TCP_NODELAY on the sending side, whose far end is drained by a
// thread of its own (as a consumer would), so that sends never block.
class DrainedLoopback {
  public:
    DrainedLoopback();
    ~DrainedLoopback();
    DrainedLoopback(const DrainedLoopback&) = delete;
    DrainedLoopback& operator=(const DrainedLoopback&) = delete;

    bool ready() const { return sender_.valid(); }
    int sendFd() const { return sender_.get(); }

  private:
    UniqueFd sender_;
    UniqueFd receiver_;
    std::thread drain_;
    std::atomic<bool> stop_{false};
};

// The relay's floor per uncompressed line: one consumer lock acquire and
// release around one send() of a 44-byte line, measured alone. Times are per
// pair, in nanoseconds: wall-clock, and CPU of the sending thread.
struct FloorFigures {
    double wallNs = 0;
    double cpuNs = 0;
};
// lockDirectory: where the lock file goes (a scratch directory of the caller).
FloorFigures measureSendLockFloor(std::size_t iterations, const std::string& lockDirectory);

// A 44-byte line as the relay makes it of a type '3' record.
extern const char FLOOR_LINE[45];

}  // namespace velgor::e2e
