#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "config/link_endpoint.h"
#include "links/relay_host.h"
#include "sys/main_thread_tasks.h"

namespace velgor {

class Relay;

// The relay's host on a poll loop of its own, without Qt (pollSockets: poll(2) on
// POSIX, WSAPoll on Windows): the console's event loop, and the tests' (which
// drive it step by step). The thread that creates it is the main thread.
//
// - runOnMainThread from another thread hands the task over through
//   MainThreadTasks, whose wake-up descriptor the loop polls: it waits until the
//   main thread has run it, or until beginShutdown lets it go (false). Called on
//   the main thread itself it runs the task at once.
// - Watched link sockets are polled; a readable one is classified with
//   pendingSocketEvent and handed to the relay's source or consumer handler; one
//   watched for room that has it gets FD_WRITE. A socket whose reading is held
//   is polled only for its peer's close, a reset or an error (SOCKET_PEER_GONE),
//   which is handed over as FD_CLOSE; its data waits until the hold ends.
// - While ticking, every 100 ms the relay's tick duties run, then the duties
//   added with addTickDuty. The poll waits until the next tick at most, so an
//   idle loop wakes only for the tick.
class PollRelayHost : public RelayHost {
  public:
    static constexpr std::chrono::milliseconds TICK{100};

    PollRelayHost();
    ~PollRelayHost() override;
    PollRelayHost(const PollRelayHost&) = delete;
    PollRelayHost& operator=(const PollRelayHost&) = delete;

    // The relay whose handlers receive the socket events (and ticks).
    void attach(Relay& relay) { relay_ = &relay; }
    // Runs `duty` on every tick too, after the relay's own duties.
    void addTickDuty(const std::function<void()>& duty) { tickDuties_.push_back(duty); }
    // The first tick comes 100 ms after it is switched on.
    void setTicking(bool on);
    // Main thread: from now on runOnMainThread refuses, and every caller waiting
    // in it is let go without its task having run; the tick stops.
    void beginShutdown();

    [[nodiscard]] bool runOnMainThread(const std::function<void()>& task) override;
    [[nodiscard]] bool watchSocket(int link, int socket) override;
    void unwatchSocket(int link, int socket) override;
    void watchForRoom(int link, int socket, bool on) override;
    void holdReading(int link, int socket, bool on) override;

    // The program's loop: runs until `quitAsked` holds, asked each time `quitFd`
    // (the program's quit signal; on Windows a socket) has become readable.
    void run(int quitFd, const std::function<bool()>& quitAsked);

    // Runs the loop for `duration`.
    void pump(std::chrono::milliseconds duration);
    // Runs the loop until `done` holds (checked before each step) or `timeout`
    // passes; returns whether it holds.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs exactly one task handed over by another thread, waiting up to `timeout`
    // for it, and nothing else (no events, no tick).
    bool runOneTask(std::chrono::milliseconds timeout);

    // The socket watched for a link, or -1.
    int watchedSocket(int link) const { return watched_[static_cast<std::size_t>(link)]; }
    // Events handed to the relay so far, per link and kind (FD_READ / FD_CLOSE / FD_WRITE).
    int eventsDelivered(int link, int event) const;
    int tasksRun() const { return tasksRun_; }

  private:
    // No limit on a step's wait but the next tick.
    static constexpr std::chrono::milliseconds FOREVER = std::chrono::milliseconds::max();

    // One pass: queued tasks, one poll of at most `wait` (and `quitFd` too, when
    // given; returns whether it became readable), events, a due tick.
    bool step(std::chrono::milliseconds wait, int quitFd = -1);
    void runQueuedTasks() { tasksRun_ += tasks_.runPending(); }
    void deliverEvent(int link, int socket, short ready);
    void tick();

    std::thread::id mainThread_;
    Relay* relay_ = nullptr;
    std::vector<std::function<void()>> tickDuties_;
    std::array<int, LINK_COUNT> watched_{-1, -1, -1};
    std::array<bool, LINK_COUNT> watchingRoom_{};
    std::array<bool, LINK_COUNT> holding_{};
    std::array<int, LINK_COUNT> readEvents_{};
    std::array<int, LINK_COUNT> closeEvents_{};
    std::array<int, LINK_COUNT> writeEvents_{};
    int tasksRun_ = 0;
    bool ticking_ = false;
    std::chrono::steady_clock::time_point nextTick_;
    MainThreadTasks tasks_;
};

}  // namespace velgor
