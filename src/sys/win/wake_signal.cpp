#include "sys/wake_signal.h"

#include "sys/socket_calls.h"
#include "sys/win/winsock_fd.h"

namespace velgor {

WakeSignal::WakeSignal() {
    // Both ends non-blocking: a raise never waits, a clear stops once drained.
    if (!makeSocketPair(watched_, raiser_) || !setNonBlocking(watched_.get(), true) ||
        !setNonBlocking(raiser_.get(), true)) {
        error_ = lastSocketError();
        watched_.reset();
        raiser_.reset();
    }
}

void WakeSignal::raise() {
    const char one = 1;
    // A send refused for want of room leaves bytes waiting: already woken.
    (void)::send(toSocket(raiser_.get()), &one, 1, 0);
}

void WakeSignal::clear() {
    char drained[64];
    while (::recv(toSocket(watched_.get()), drained, sizeof drained, 0) > 0) {
    }
}

}  // namespace velgor
