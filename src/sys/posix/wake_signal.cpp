#include "sys/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace velgor {

WakeSignal::WakeSignal()
    : watched_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), error_(watched_.valid() ? 0 : errno) {}

void WakeSignal::raise() {
    const std::uint64_t one = 1;
    // The counter cannot overflow in practice; a failed write would only mean the
    // main thread is already woken.
    [[maybe_unused]] const auto written = ::write(watched_.get(), &one, sizeof one);
}

void WakeSignal::clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(watched_.get(), &count, sizeof count);
}

}  // namespace velgor
