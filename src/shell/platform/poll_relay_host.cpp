#include "shell/platform/poll_relay_host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "links/relay.h"
#include "links/socket_event.h"
#include "sys/socket_calls.h"

namespace velgor {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

PollRelayHost::PollRelayHost() : mainThread_(std::this_thread::get_id()) {
    if (!tasks_.ready()) {
        // Only when the process is out of descriptors, at start-up: without it no
        // connection could ever be made, so say so and end.
        errno = tasks_.wakeUpError();
        std::perror("velgor: cannot start (no main-thread wake-up)");
        std::exit(EXIT_FAILURE);
    }
}

PollRelayHost::~PollRelayHost() {
    beginShutdown();
}

void PollRelayHost::setTicking(bool on) {
    ticking_ = on;
    nextTick_ = Clock::now() + TICK;
}

void PollRelayHost::beginShutdown() {
    ticking_ = false;
    tasks_.beginShutdown();
}

bool PollRelayHost::runOnMainThread(const std::function<void()>& task) {
    if (std::this_thread::get_id() != mainThread_) return tasks_.runOnMainThread(task);
    if (tasks_.shuttingDown()) return false;
    task();
    ++tasksRun_;
    return true;
}

bool PollRelayHost::watchSocket(int link, int socket) {
    const auto i = static_cast<std::size_t>(link);
    watched_[i] = socket;
    watchingRoom_[i] = holding_[i] = false;
    return true;
}

void PollRelayHost::unwatchSocket(int link, int /*socket*/) {
    const auto i = static_cast<std::size_t>(link);
    watched_[i] = -1;
    watchingRoom_[i] = holding_[i] = false;
}

void PollRelayHost::holdReading(int link, int socket, bool on) {
    const auto i = static_cast<std::size_t>(link);
    if (watched_[i] == socket) holding_[i] = on;
}

void PollRelayHost::watchForRoom(int link, int /*socket*/, bool on) {
    watchingRoom_[static_cast<std::size_t>(link)] = on;
}

int PollRelayHost::eventsDelivered(int link, int event) const {
    const auto i = static_cast<std::size_t>(link);
    if (event == FD_READ) return readEvents_[i];
    if (event == FD_CLOSE) return closeEvents_[i];
    if (event == FD_WRITE) return writeEvents_[i];
    return 0;
}

void PollRelayHost::run(int quitFd, const std::function<bool()>& quitAsked) {
    for (;;) {
        if (step(FOREVER, quitFd) && quitAsked()) return;
    }
}

void PollRelayHost::pump(milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        step(std::chrono::ceil<milliseconds>(deadline - now));
    }
    runQueuedTasks();
}

bool PollRelayHost::runUntil(const std::function<bool()>& done, milliseconds timeout) {
    // Conditions often depend on what another thread or a peer does; a short
    // poll keeps them checked often without spinning.
    constexpr milliseconds RECHECK{10};
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        step(std::min(RECHECK, std::chrono::ceil<milliseconds>(deadline - now)));
    }
}

bool PollRelayHost::step(milliseconds wait, int quitFd) {
    runQueuedTasks();

    // A negative wait has no limit.
    milliseconds timeout = wait == FOREVER ? milliseconds{-1} : wait;
    if (ticking_) {
        // Rounded up, so that the loop never wakes just before the tick is due.
        const auto untilTick = std::chrono::ceil<milliseconds>(nextTick_ - Clock::now());
        timeout = std::clamp(untilTick, milliseconds{0}, wait);
    }

    std::array<PolledSocket, 2 + LINK_COUNT> polled{};
    std::array<int, LINK_COUNT> links{};
    std::size_t count = 0;
    polled[count++] = PolledSocket{tasks_.wakeFd(), SOCKET_READABLE, 0};
    std::size_t linkCount = 0;
    for (int link = 0; link < LINK_COUNT; ++link) {
        const auto i = static_cast<std::size_t>(link);
        if (watched_[i] < 0) continue;
        const auto wanted = static_cast<short>((holding_[i] ? SOCKET_PEER_GONE : SOCKET_READABLE) |
                                               (watchingRoom_[i] ? SOCKET_WRITABLE : 0));
        polled[count++] = PolledSocket{watched_[i], wanted, 0};
        links[linkCount++] = link;
    }
    const std::size_t quitIndex = count;
    if (quitFd >= 0) polled[count++] = PolledSocket{quitFd, SOCKET_READABLE, 0};

    bool quitAsked = false;
    const int ready = pollSockets(std::span(polled.data(), count), timeout);
    if (ready > 0) {
        runQueuedTasks();
        for (std::size_t i = 0; i < linkCount; ++i) {
            const PolledSocket& socket = polled[i + 1];
            if (socket.ready != 0) deliverEvent(links[i], socket.socket, socket.ready);
        }
        quitAsked = quitFd >= 0 && polled[quitIndex].ready != 0;
    }

    if (ticking_ && Clock::now() >= nextTick_) {
        nextTick_ += TICK;
        // A loop that fell behind does not catch up with a burst of ticks.
        if (nextTick_ < Clock::now()) nextTick_ = Clock::now() + TICK;
        tick();
    }
    return quitAsked;
}

void PollRelayHost::tick() {
    if (relay_ != nullptr) relay_->tickDuties();
    for (const auto& duty : tickDuties_) duty();
}

void PollRelayHost::deliverEvent(int link, int socket, short ready) {
    const auto i = static_cast<std::size_t>(link);
    // An earlier handler of this pass may have dropped the link.
    if (watched_[i] != socket || relay_ == nullptr) return;
    if ((ready & SOCKET_WRITABLE) != 0 && watchingRoom_[i] && link == LINK_CONSUMER) {
        ++writeEvents_[i];
        relay_->handleConsumerEvent(socket, FD_WRITE);
        if (watched_[i] != socket) return;
    }
    int event = FD_NONE;
    if (holding_[i]) {
        // Its data waits, but its end is told at once.
        if ((ready & SOCKET_PEER_GONE) != 0) event = peerGoneEvent(socket);
    } else if ((ready & SOCKET_READABLE) != 0) {
        event = pendingSocketEvent(socket);
    }
    if (event == FD_NONE) return;
    if ((event & 0xFFFF) == FD_READ) ++readEvents_[i];
    if ((event & 0xFFFF) == FD_CLOSE) ++closeEvents_[i];
    if (link == LINK_SOURCE) {
        relay_->handleSourceEvent(socket, event);
    } else if (link == LINK_CONSUMER) {
        relay_->handleConsumerEvent(socket, event);
    }
}

bool PollRelayHost::runOneTask(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (tasks_.runOne()) {
            ++tasksRun_;
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) return false;
        // The wake-up is readable exactly while a task waits.
        PolledSocket wakeUp{tasks_.wakeFd(), SOCKET_READABLE, 0};
        (void)pollSockets(std::span(&wakeUp, 1), std::chrono::ceil<milliseconds>(deadline - now));
    }
}

}  // namespace velgor
