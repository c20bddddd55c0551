#pragma once

#include "sys/unique_fd.h"

namespace velgor {

// A wake-up an event loop can watch: its descriptor is readable from raise()
// until clear(). An eventfd on Linux; on Windows a loopback socket pair (the
// read end), so that the same socket notifications that watch the links can
// watch it (Winsock must have been started before one is made).
class WakeSignal {
  public:
    WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Whether it could be made; if not, error() is the errno of the failure.
    bool valid() const { return watched_.valid(); }
    int error() const { return error_; }
    int fd() const { return watched_.get(); }

    void raise();
    void clear();

  private:
    UniqueFd watched_;
    UniqueFd raiser_;  // the pair's other end, where there is one
    int error_ = 0;
};

}  // namespace velgor
