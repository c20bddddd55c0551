#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "sys/wake_signal.h"

namespace velgor {

// The tasks other threads hand to the main thread, and the wake-up that tells the
// main thread's event loop about them. The loop watches wakeFd() for reading
// (a socket notifier, poll) and calls runPending() when it is readable.
//
// The asking thread waits until its task has run, or until shutdown lets it go;
// a task that was let go never runs (it refers to the asking thread's stack).
// Everything the threads share is under one mutex, so the thread sanitizer can
// follow every hand-over.
class MainThreadTasks {
  public:
    MainThreadTasks();
    MainThreadTasks(const MainThreadTasks&) = delete;
    MainThreadTasks& operator=(const MainThreadTasks&) = delete;

    // Whether the wake-up descriptor could be made; if not, wakeUpError() is the
    // errno of the failure, and no task can be handed over.
    bool ready() const { return wake_.valid(); }
    int wakeUpError() const { return wake_.error(); }
    // Readable exactly while tasks wait to be run.
    int wakeFd() const { return wake_.fd(); }

    // Any thread but the main thread: queues `task`, wakes the main thread and
    // waits. Returns true once the task has run; false, without it ever running,
    // once shutdown has begun.
    [[nodiscard]] bool runOnMainThread(const std::function<void()>& task);

    // Main thread, at the start of shutdown: from now on runOnMainThread refuses,
    // every caller waiting in it is let go, and queued tasks are dropped.
    void beginShutdown();
    bool shuttingDown() const;

    // Main thread: runs the queued tasks, including any queued meanwhile, and
    // returns how many ran.
    int runPending();
    // Main thread: runs the first queued task, if any; whether one ran.
    bool runOne();

  private:
    struct Request;
    // Takes the first queued request and marks it running; null if none.
    Request* takeFirst();
    void finish(Request& request);

    WakeSignal wake_;
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::deque<Request*> queue_;
    bool shuttingDown_ = false;
};

}  // namespace velgor
