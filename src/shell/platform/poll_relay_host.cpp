#include "shell/platform/poll_relay_host.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "links/relay.h"
#include "links/socket_event.h"
#include "shell/platform/quit_signal_pipe.h"

namespace velgor {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

PollRelayHost::PollRelayHost() : mainThread_(std::this_thread::get_id()) {
    if (!tasks_.ready()) {
        // Only when the process is out of descriptors, at start-up: without it no
        // connection could ever be made, so say so and end.
        errno = tasks_.wakeUpError();
        std::perror("velgor: cannot start (eventfd)");
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

void PollRelayHost::watchSocket(int link, int socket) {
    watched_[static_cast<std::size_t>(link)] = socket;
    watchingRoom_[static_cast<std::size_t>(link)] = false;
}

void PollRelayHost::unwatchSocket(int link, int /*socket*/) {
    watched_[static_cast<std::size_t>(link)] = -1;
    watchingRoom_[static_cast<std::size_t>(link)] = false;
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

void PollRelayHost::run(QuitSignalPipe& quit) {
    for (;;) {
        if (step(FOREVER, quit.readFd()) && quit.takeQuit()) return;
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

    // poll's timeout: -1 waits for an event however long it takes.
    int timeout = wait == FOREVER ? -1 : static_cast<int>(wait.count());
    if (ticking_) {
        // Rounded up, so that the loop never wakes just before the tick is due.
        const auto untilTick = std::chrono::ceil<milliseconds>(nextTick_ - Clock::now());
        const auto limit = std::clamp(untilTick, milliseconds{0}, wait);
        timeout = static_cast<int>(limit.count());
    }

    std::array<pollfd, 2 + LINK_COUNT> fds{};
    std::array<int, LINK_COUNT> links{};
    std::size_t count = 0;
    fds[count++] = pollfd{tasks_.wakeFd(), POLLIN, 0};
    std::size_t linkCount = 0;
    for (int link = 0; link < LINK_COUNT; ++link) {
        const auto i = static_cast<std::size_t>(link);
        if (watched_[i] < 0) continue;
        const short wanted = watchingRoom_[i] ? POLLIN | POLLOUT : POLLIN;
        fds[count++] = pollfd{watched_[i], wanted, 0};
        links[linkCount++] = link;
    }
    const std::size_t quitIndex = count;
    if (quitFd >= 0) fds[count++] = pollfd{quitFd, POLLIN, 0};

    bool quitAsked = false;
    const int ready = ::poll(fds.data(), count, timeout);
    if (ready > 0) {
        runQueuedTasks();
        for (std::size_t i = 0; i < linkCount; ++i) {
            const pollfd& fd = fds[i + 1];
            if (fd.revents != 0) deliverEvent(links[i], fd.fd, fd.revents);
        }
        quitAsked = quitFd >= 0 && fds[quitIndex].revents != 0;
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

void PollRelayHost::deliverEvent(int link, int socket, short revents) {
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
        pollfd wakeUp{tasks_.wakeFd(), POLLIN, 0};
        const auto wait = std::chrono::ceil<milliseconds>(deadline - now);
        ::poll(&wakeUp, 1, static_cast<int>(wait.count()));
    }
}

}  // namespace velgor
