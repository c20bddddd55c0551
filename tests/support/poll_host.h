#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <thread>

#include "config/link_endpoint.h"
#include "links/relay_host.h"
#include "sys/main_thread_tasks.h"

namespace velgor {
class Relay;
}

namespace velgor::test {

// The event loop's tick period, for runs that tick on their own.
inline constexpr std::chrono::milliseconds POLL_HOST_TICK{100};

// A RelayHost whose main thread is the thread that created it (the test's
// thread). Nothing happens behind the test's back: queued main-thread tasks,
// socket events and (when switched on) ticks are carried out only while the
// test calls pump() or runUntil().
//
// - runOnMainThread from another thread hands the task over through the same
//   MainThreadTasks the program's host uses: it waits until the main thread has
//   run it, or until beginShutdown lets it go (false). Called on the main thread
//   itself it runs the task at once.
// - Watched sockets are polled (poll(2)); a readable one is classified with
//   pendingSocketEvent and handed to the relay's source or consumer handler; one
//   watched for room that has it gets FD_WRITE.
// - Ticks are the test's business (relay.tickDuties()), unless setTicking(true):
//   then pumping calls tickDuties every 100 ms.
class PollHost : public RelayHost {
  public:
    PollHost();
    ~PollHost() override;
    PollHost(const PollHost&) = delete;
    PollHost& operator=(const PollHost&) = delete;

    // The relay whose handlers receive the socket events (and ticks).
    void attach(Relay& relay) { relay_ = &relay; }
    void setTicking(bool on);
    // Main thread: from now on runOnMainThread refuses, and every caller waiting
    // in it is let go without its task having run.
    void beginShutdown();

    bool runOnMainThread(const std::function<void()>& task) override;
    void watchSocket(int link, int socket) override;
    void unwatchSocket(int link, int socket) override;
    void watchForRoom(int link, int socket, bool on) override;

    // Runs the loop for `duration`.
    void pump(std::chrono::milliseconds duration);
    // Runs the loop until `done` holds (checked before each step) or `timeout`
    // passes; returns whether it holds.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs exactly one task handed over by another thread, waiting up to `timeout`
    // for it, and nothing else (no events, no tick): a test can then hold the
    // main thread while the other thread goes on to its next request.
    bool runOneTask(std::chrono::milliseconds timeout);

    // The socket watched for a link, or -1.
    int watchedSocket(int link) const { return watched_[static_cast<std::size_t>(link)]; }
    // Events handed to the relay so far, per link and kind (FD_READ / FD_CLOSE / FD_WRITE).
    int eventsDelivered(int link, int event) const;
    int tasksRun() const { return tasksRun_; }

  private:
    // One pass: queued tasks, one poll of at most `wait`, events, a due tick.
    void step(std::chrono::milliseconds wait);
    void runQueuedTasks() { tasksRun_ += tasks_.runPending(); }
    void deliverEvent(int link, int socket, short revents);

    std::thread::id mainThread_;
    Relay* relay_ = nullptr;
    std::array<int, LINK_COUNT> watched_{-1, -1, -1};
    std::array<bool, LINK_COUNT> watchingRoom_{};
    std::array<int, LINK_COUNT> readEvents_{};
    std::array<int, LINK_COUNT> closeEvents_{};
    std::array<int, LINK_COUNT> writeEvents_{};
    int tasksRun_ = 0;
    bool ticking_ = false;
    std::chrono::steady_clock::time_point nextTick_;
    MainThreadTasks tasks_;
};

}  // namespace velgor::test
