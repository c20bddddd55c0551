#include "shell/platform/qt_relay_host.h"

#include <QMetaObject>

#include "links/relay.h"
#include "links/socket_event.h"

namespace velgor {

// One task handed to the main thread. The asking thread waits until it has run,
// or until shutdown abandons it (then it must never run: the task refers to the
// asking thread's stack).
struct QtRelayHost::Request {
    enum class Stage { Pending, Done, Abandoned };
    Stage stage = Stage::Pending;
};

QtRelayHost::QtRelayHost() {
    tick_.setInterval(TICK_MS);
    tick_.setTimerType(Qt::PreciseTimer);
}

QtRelayHost::~QtRelayHost() {
    for (QSocketNotifier* notifier : notifiers_) delete notifier;
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
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_) return false;
    }
    QMetaObject::invokeMethod(
        this,
        [this, request, &task] {
            {
                std::lock_guard lock(mutex_);
                if (request->stage == Request::Stage::Abandoned) return;
            }
            // Runs without the mutex: the task may itself watch sockets or refresh.
            task();
            std::lock_guard lock(mutex_);
            request->stage = Request::Stage::Done;
            answered_.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return request->stage == Request::Stage::Done || shuttingDown_; });
    if (request->stage == Request::Stage::Done) return true;
    request->stage = Request::Stage::Abandoned;
    return false;
}

void QtRelayHost::watchSocket(int link, int socket) {
    unwatchSocket(link, -1);
    auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, link, socket] { onReadable(link, socket); });
    notifiers_[static_cast<std::size_t>(link)] = notifier;
}

void QtRelayHost::unwatchSocket(int link, int /*socket*/) {
    QSocketNotifier*& notifier = notifiers_[static_cast<std::size_t>(link)];
    if (notifier == nullptr) return;
    // May run from inside the notifier's own signal (a close event drops the
    // link): switch it off now, free it once the signal has returned.
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
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
