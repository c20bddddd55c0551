#include "shell/platform/qt_relay_host.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "links/relay.h"
#include "links/socket_event.h"

namespace velgor {

// One task handed to the main thread. The asking thread waits until it has run,
// or until shutdown lets it go (then the task must never run: it refers to the
// asking thread's stack).
struct QtRelayHost::Request {
    enum class Stage { Pending, Done, Abandoned };
    const std::function<void()>* task = nullptr;
    Stage stage = Stage::Pending;
};

QtRelayHost::QtRelayHost() {
    tick_.setInterval(TICK_MS);
    tick_.setTimerType(Qt::PreciseTimer);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        // Only when the process is out of descriptors, at start-up: without it no
        // connection could ever be made, so say so and end.
        std::perror("velgor: cannot start (eventfd)");
        std::exit(EXIT_FAILURE);
    }
    wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] { runPendingTasks(); });
}

QtRelayHost::~QtRelayHost() {
    for (QSocketNotifier* notifier : notifiers_) delete notifier;
    for (QSocketNotifier* notifier : roomNotifiers_) delete notifier;
    delete wakeNotifier_;
    ::close(wakeFd_);
}

void QtRelayHost::attach(Relay& relay) {
    relay_ = &relay;
    connect(&tick_, &QTimer::timeout, this, [this] { relay_->tickDuties(); });
    tick_.start();
}

void QtRelayHost::beginShutdown() {
    tick_.stop();
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
    answered_.notify_all();
}

bool QtRelayHost::runOnMainThread(const std::function<void()>& task) {
    auto request = std::make_shared<Request>();
    request->task = &task;
    std::unique_lock lock(mutex_);
    if (shuttingDown_) return false;
    pending_.push_back(request);
    const std::uint64_t one = 1;
    // The counter cannot overflow in practice; a failed write would only mean
    // the main thread is already woken.
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);

    answered_.wait(lock, [&] { return request->stage == Request::Stage::Done || shuttingDown_; });
    if (request->stage == Request::Stage::Done) return true;
    request->stage = Request::Stage::Abandoned;
    return false;
}

void QtRelayHost::runPendingTasks() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(wakeFd_, &count, sizeof count);
    std::unique_lock lock(mutex_);
    while (!pending_.empty()) {
        const std::shared_ptr<Request> request = pending_.front();
        pending_.pop_front();
        if (request->stage != Request::Stage::Pending) continue;
        // Runs without the mutex: the task may itself watch sockets or refresh.
        // Shutdown cannot begin meanwhile: it runs on this same thread.
        lock.unlock();
        (*request->task)();
        lock.lock();
        request->stage = Request::Stage::Done;
        answered_.notify_all();
    }
}

void QtRelayHost::watchSocket(int link, int socket) {
    unwatchSocket(link, -1);
    auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, link, socket] { onReadable(link, socket); });
    notifiers_[static_cast<std::size_t>(link)] = notifier;
}

namespace {

// May run from inside the notifier's own signal (a close event drops the link):
// switch it off now, free it once the signal has returned.
void retire(QSocketNotifier*& notifier) {
    if (notifier == nullptr) return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

}  // namespace

void QtRelayHost::unwatchSocket(int link, int /*socket*/) {
    retire(notifiers_[static_cast<std::size_t>(link)]);
    retire(roomNotifiers_[static_cast<std::size_t>(link)]);
}

void QtRelayHost::watchForRoom(int link, int socket, bool on) {
    QSocketNotifier*& notifier = roomNotifiers_[static_cast<std::size_t>(link)];
    if (!on) {
        if (notifier != nullptr) notifier->setEnabled(false);
        return;
    }
    if (notifier != nullptr && notifier->socket() != socket) retire(notifier);
    if (notifier == nullptr) {
        notifier = new QSocketNotifier(socket, QSocketNotifier::Write);
        connect(notifier, &QSocketNotifier::activated, this,
                [this, link, socket] { onWritable(link, socket); });
    }
    notifier->setEnabled(true);
}

void QtRelayHost::onWritable(int link, int socket) {
    if (link == LINK_CONSUMER) relay_->handleConsumerEvent(socket, FD_WRITE);
}

void QtRelayHost::onReadable(int link, int socket) {
    const int event = pendingSocketEvent(socket);
    if (event == FD_NONE) return;
    if (link == LINK_SOURCE) {
        relay_->handleSourceEvent(socket, event);
    } else if (link == LINK_CONSUMER) {
        relay_->handleConsumerEvent(socket, event);
    }
}

}  // namespace velgor
