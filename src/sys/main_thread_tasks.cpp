#include "sys/main_thread_tasks.h"

namespace velgor {

// One task handed over, on the asking thread's stack. It is in queue_ while
// Queued; the main thread takes it out to run it. The asking thread leaves once
// it is Done, or once shutdown has dropped it while still Queued; never while it
// Runs.
struct MainThreadTasks::Request {
    enum class Stage { Queued, Running, Done };
    const std::function<void()>& task;
    Stage stage = Stage::Queued;
};

MainThreadTasks::MainThreadTasks() = default;

bool MainThreadTasks::runOnMainThread(const std::function<void()>& task) {
    Request request{task};
    std::unique_lock lock(mutex_);
    if (shuttingDown_ || !wake_.valid()) return false;
    queue_.push_back(&request);
    wake_.raise();
    answered_.wait(lock, [&] {
        return request.stage == Request::Stage::Done ||
               (shuttingDown_ && request.stage == Request::Stage::Queued);
    });
    return request.stage == Request::Stage::Done;
}

void MainThreadTasks::beginShutdown() {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
    queue_.clear();
    wake_.clear();
    answered_.notify_all();
}

bool MainThreadTasks::shuttingDown() const {
    std::lock_guard lock(mutex_);
    return shuttingDown_;
}

int MainThreadTasks::runPending() {
    int ran = 0;
    while (runOne()) ++ran;
    return ran;
}

bool MainThreadTasks::runOne() {
    Request* request = takeFirst();
    if (request == nullptr) return false;
    // Runs without the mutex: the task may itself watch sockets or refresh.
    request->task();
    finish(*request);
    return true;
}

MainThreadTasks::Request* MainThreadTasks::takeFirst() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return nullptr;
    Request* request = queue_.front();
    queue_.pop_front();
    if (queue_.empty()) wake_.clear();
    request->stage = Request::Stage::Running;
    return request;
}

void MainThreadTasks::finish(Request& request) {
    std::lock_guard lock(mutex_);
    request.stage = Request::Stage::Done;
    // The asking thread may leave as soon as the mutex is free, and its request
    // with it: nothing here touches the request after this.
    answered_.notify_all();
}

}  // namespace velgor
