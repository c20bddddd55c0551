#include "e2e/send_floor.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <memory>

#include "e2e/stream_player.h"
#include "sys/consumer_lock.h"

namespace velgor::e2e {

const char FLOOR_LINE[45] = "@0123456789AB8D4840D6202CC371C32CE0576098;\r\n";

namespace {

std::int64_t threadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

DrainedLoopback::DrainedLoopback() {
    Listener listener = listenLoopback();
    if (!listener.socket.valid()) return;
    UniqueFd client = connectLoopbackWithin(listener.port, std::chrono::seconds(2));
    UniqueFd server = acceptWithin(listener, std::chrono::seconds(2));
    if (!client.valid() || !server.valid()) return;
    setNoDelay(client.get());
    receiver_ = std::move(server);
    drain_ = std::thread([this] {
        auto buffer = std::make_unique<char[]>(1 << 16);
        while (!stop_.load(std::memory_order_relaxed)) {
            pollfd watched{receiver_.get(), POLLIN, 0};
            if (::poll(&watched, 1, 50) <= 0) continue;
            if (::recv(receiver_.get(), buffer.get(), 1 << 16, 0) <= 0) break;
        }
    });
    sender_ = std::move(client);
}

DrainedLoopback::~DrainedLoopback() {
    stop_.store(true);
    sender_.reset();
    if (drain_.joinable()) drain_.join();
}

FloorFigures measureSendLockFloor(std::size_t iterations, const std::string& lockDirectory) {
    FloorFigures figures;
    DrainedLoopback link;
    ConsumerLock lock(lockDirectory);
    if (!link.ready() || !lock.usable() || iterations == 0) return figures;
    constexpr std::size_t LINE_BYTES = sizeof FLOOR_LINE - 1;
    const std::int64_t wallStart = monotonicNs();
    const std::int64_t cpuStart = threadCpuNs();
    for (std::size_t i = 0; i < iterations; ++i) {
        ConsumerLockHold hold(lock);
        if (::send(link.sendFd(), FLOOR_LINE, LINE_BYTES, MSG_NOSIGNAL) != LINE_BYTES) break;
    }
    const auto count = static_cast<double>(iterations);
    figures.cpuNs = static_cast<double>(threadCpuNs() - cpuStart) / count;
    figures.wallNs = static_cast<double>(monotonicNs() - wallStart) / count;
    return figures;
}

}  // namespace velgor::e2e
