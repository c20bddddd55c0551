#include "support/poll_host.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "links/relay.h"
#include "links/socket_event.h"

namespace velgor::test {

using Clock = std::chrono::steady_clock;

PollHost::PollHost() : mainThread_(std::this_thread::get_id()) {
    if (!tasks_.ready()) std::abort();
}

PollHost::~PollHost() {
    beginShutdown();
}

void PollHost::setTicking(bool on) {
    ticking_ = on;
    nextTick_ = Clock::now() + POLL_HOST_TICK;
}

void PollHost::beginShutdown() {
    ticking_ = false;
    tasks_.beginShutdown();
}

bool PollHost::runOnMainThread(const std::function<void()>& task) {
    if (std::this_thread::get_id() != mainThread_) return tasks_.runOnMainThread(task);
    if (tasks_.shuttingDown()) return false;
    task();
    ++tasksRun_;
    return true;
}

void PollHost::watchSocket(int link, int socket) {
    watched_[static_cast<std::size_t>(link)] = socket;
}

void PollHost::unwatchSocket(int link, int /*socket*/) {
    watched_[static_cast<std::size_t>(link)] = -1;
    watchingRoom_[static_cast<std::size_t>(link)] = false;
}

void PollHost::watchForRoom(int link, int /*socket*/, bool on) {
    watchingRoom_[static_cast<std::size_t>(link)] = on;
}

int PollHost::eventsDelivered(int link, int event) const {
    const auto i = static_cast<std::size_t>(link);
    if (event == FD_READ) return readEvents_[i];
    if (event == FD_CLOSE) return closeEvents_[i];
    if (event == FD_WRITE) return writeEvents_[i];
    return 0;
}

void PollHost::pump(std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        step(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    }
    runQueuedTasks();
}

bool PollHost::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    // Conditions often depend on what another thread or a peer does; a short
    // poll keeps them checked often without spinning.
    constexpr std::chrono::milliseconds RECHECK{10};
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        step(std::min(RECHECK, std::chrono::ceil<std::chrono::milliseconds>(deadline - now)));
    }
}

void PollHost::step(std::chrono::milliseconds wait) {
    runQueuedTasks();

    auto timeout = wait;
    if (ticking_) {
        const auto untilTick =
            std::chrono::ceil<std::chrono::milliseconds>(nextTick_ - Clock::now());
        timeout = std::clamp(untilTick, std::chrono::milliseconds{0}, wait);
    }

    std::vector<pollfd> fds{pollfd{tasks_.wakeFd(), POLLIN, 0}};
    std::vector<int> links;
    for (int link = 0; link < LINK_COUNT; ++link) {
        if (watched_[static_cast<std::size_t>(link)] < 0) continue;
        const auto i = static_cast<std::size_t>(link);
        const short wanted = watchingRoom_[i] ? POLLIN | POLLOUT : POLLIN;
        fds.push_back(pollfd{watched_[i], wanted, 0});
        links.push_back(link);
    }
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
    if (ready > 0) {
        runQueuedTasks();
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (fds[i + 1].revents != 0) deliverEvent(links[i], fds[i + 1].fd, fds[i + 1].revents);
        }
    }

    if (ticking_ && relay_ != nullptr && Clock::now() >= nextTick_) {
        nextTick_ += POLL_HOST_TICK;
        // A loop that fell behind does not catch up with a burst of ticks.
        if (nextTick_ < Clock::now()) nextTick_ = Clock::now() + POLL_HOST_TICK;
        relay_->tickDuties();
    }
}

void PollHost::deliverEvent(int link, int socket, short revents) {
    const auto i = static_cast<std::size_t>(link);
    // An earlier handler of this pass may have dropped the link.
    if (watched_[i] != socket || relay_ == nullptr) return;
    if ((revents & POLLOUT) != 0 && watchingRoom_[i] && link == LINK_CONSUMER) {
        ++writeEvents_[i];
        relay_->handleConsumerEvent(socket, FD_WRITE);
        if (watched_[i] != socket) return;
    }
    if ((revents & ~POLLOUT) == 0) return;
    const int event = pendingSocketEvent(socket);
    if (event == FD_NONE) return;
    if ((event & 0xFFFF) == FD_READ) ++readEvents_[i];
    if ((event & 0xFFFF) == FD_CLOSE) ++closeEvents_[i];
    if (link == LINK_SOURCE) {
        relay_->handleSourceEvent(socket, event);
    } else if (link == LINK_CONSUMER) {
        relay_->handleConsumerEvent(socket, event);
    }
}

bool PollHost::runOneTask(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (tasks_.runOne()) {
            ++tasksRun_;
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) return false;
        // The wake-up is readable exactly while a task waits.
        pollfd wakeUp{tasks_.wakeFd(), POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        ::poll(&wakeUp, 1, static_cast<int>(wait.count()));
    }
}

}  // namespace velgor::test
