#include "shell/platform/qt_relay_host.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "links/relay.h"
#include "links/socket_event.h"
#include "sys/socket_calls.h"

namespace velgor {

QtRelayHost::QtRelayHost() {
    tick_.setInterval(TICK_MS);
    tick_.setTimerType(Qt::PreciseTimer);
    if (!tasks_.ready()) {
        // Only when the process is out of descriptors, at start-up: without it no
        // connection could ever be made, so say so and end.
        errno = tasks_.wakeUpError();
        std::perror("velgor: cannot start (eventfd)");
        std::exit(EXIT_FAILURE);
    }
    wakeNotifier_ = new QSocketNotifier(tasks_.wakeFd(), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] { tasks_.runPending(); });
}

QtRelayHost::~QtRelayHost() {
    for (QSocketNotifier* notifier : notifiers_) delete notifier;
    for (QSocketNotifier* notifier : roomNotifiers_) delete notifier;
    delete wakeNotifier_;  // before tasks_ closes the descriptor it watches
}

void QtRelayHost::attach(Relay& relay) {
    relay_ = &relay;
    connect(&tick_, &QTimer::timeout, this, [this] {
        checkHeldSockets();
        relay_->tickDuties();
    });
    tick_.start();
}

void QtRelayHost::addTickDuty(const std::function<void()>& duty) {
    connect(&tick_, &QTimer::timeout, this, duty);
}

void QtRelayHost::beginShutdown() {
    tick_.stop();
    tasks_.beginShutdown();
}

bool QtRelayHost::runOnMainThread(const std::function<void()>& task) {
    return tasks_.runOnMainThread(task);
}

bool QtRelayHost::watchSocket(int link, int socket) {
    unwatchSocket(link, -1);
    auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, link, socket] { onReadable(link, socket); });
    notifiers_[static_cast<std::size_t>(link)] = notifier;
    return true;
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
    holding_[static_cast<std::size_t>(link)] = false;
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

void QtRelayHost::holdReading(int link, int socket, bool on) {
    const auto i = static_cast<std::size_t>(link);
    QSocketNotifier* notifier = notifiers_[i];
    if (notifier == nullptr || notifier->socket() != socket) return;
    notifier->setEnabled(!on);
    holding_[i] = on;
}

void QtRelayHost::checkHeldSockets() {
    for (int link = 0; link < LINK_COUNT; ++link) {
        const auto i = static_cast<std::size_t>(link);
        if (!holding_[i] || notifiers_[i] == nullptr) continue;
        const int socket = static_cast<int>(notifiers_[i]->socket());
        PolledSocket held{socket, SOCKET_PEER_GONE, 0};
        if (pollSockets(std::span(&held, 1), std::chrono::milliseconds{0}) <= 0 ||
            (held.ready & SOCKET_PEER_GONE) == 0) {
            continue;
        }
        if (link == LINK_SOURCE) {
            relay_->handleSourceEvent(socket, peerGoneEvent(socket));
        } else if (link == LINK_CONSUMER) {
            relay_->handleConsumerEvent(socket, peerGoneEvent(socket));
        }
    }
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
