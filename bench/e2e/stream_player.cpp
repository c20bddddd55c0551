#include "e2e/stream_player.h"

#include <sys/prctl.h>
#include <time.h>

#include "e2e/loopback_socket.h"

namespace velgor::e2e {
namespace {

constexpr std::size_t BULK_WRITE_BYTES = 1 << 20;
constexpr std::int64_t NS_PER_SECOND = 1'000'000'000;

void sleepUntil(std::int64_t ns) {
    timespec due{};
    due.tv_sec = static_cast<time_t>(ns / NS_PER_SECOND);
    due.tv_nsec = static_cast<long>(ns % NS_PER_SECOND);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
    }
}

}  // namespace

std::int64_t monotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NS_PER_SECOND + now.tv_nsec;
}

PlayResult playBulk(int fd, const std::string& pass, std::size_t passes) {
    PlayResult result;
    const std::size_t perWrite =
        pass.size() >= BULK_WRITE_BYTES ? 1 : BULK_WRITE_BYTES / pass.size();
    std::string chunk;
    for (std::size_t i = 0; i < perWrite; ++i) chunk += pass;

    result.startNs = monotonicNs();
    std::size_t left = passes;
    bool ok = true;
    while (left > 0 && ok) {
        const std::size_t now = left < perWrite ? left : perWrite;
        ok = sendAll(fd, chunk.data(), now * pass.size());
        left -= now;
    }
    result.endNs = monotonicNs();
    result.complete = ok;
    return result;
}

PlayResult playPaced(int fd, const std::vector<std::string>& units, double rate,
                     WriteStamps& stamps) {
    PlayResult result;
    if (units.empty()) return result;
    // Wake-ups as close to the asked time as the kernel gives them.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const double periodNs = static_cast<double>(NS_PER_SECOND) / rate;
    result.startNs = monotonicNs();
    bool ok = true;
    for (std::size_t k = 0; k < stamps.size() && ok; ++k) {
        const auto due =
            result.startNs + static_cast<std::int64_t>(static_cast<double>(k) * periodNs);
        if (monotonicNs() < due) sleepUntil(due);
        const std::string& unit = units[k % units.size()];
        stamps.set(k, monotonicNs());
        ok = sendAll(fd, unit.data(), unit.size());
    }
    result.endNs = monotonicNs();
    result.complete = ok;
    return result;
}

}  // namespace velgor::e2e
