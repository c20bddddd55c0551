#include "links/link_send_ops.h"

#include <cerrno>
#include <utility>

#include "links/stop_aware_sleep.h"

namespace velgor {

LinkSendOps::LinkSendOps(SocketOps& inner, std::stop_token stop)
    : inner_(inner), stop_(std::move(stop)) {}

long LinkSendOps::send(int socket, const void* data, std::size_t length) {
    if (stop_.stop_requested()) {
        lastSendFailedForGood_ = true;
        return -1;
    }
    errno = 0;  // a stand-in that fails without setting errno is taken as a passing failure
    const long sent = inner_.send(socket, data, length);
    lastSendFailedForGood_ = sent < 0 && sendErrorIsFinal(errno);
    return sent;
}

long LinkSendOps::recv(int socket, void* buffer, std::size_t capacity) {
    return inner_.recv(socket, buffer, capacity);
}

void LinkSendOps::pause(std::chrono::milliseconds duration) {
    if (lastSendFailedForGood_) return;
    if (!stop_.stop_possible()) {
        inner_.pause(duration);
        return;
    }
    // A stop ends the pause early; the handshake notices it at its next send.
    (void)sleepUnlessStopped(duration, stop_);
}

}  // namespace velgor
