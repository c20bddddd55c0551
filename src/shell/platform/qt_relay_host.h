#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "config/link_endpoint.h"
#include "links/relay_host.h"

namespace velgor {

class Relay;

// The relay's host on Qt's event loop (QCoreApplication or QApplication): the
// main thread runs every handler; a socket notifier per live link turns
// readiness into FD_READ / FD_CLOSE events; a 100 ms timer runs the tick duties.
class QtRelayHost : public QObject, public RelayHost {
    Q_OBJECT
  public:
    static constexpr int TICK_MS = 100;

    QtRelayHost();
    ~QtRelayHost() override;

    // Connects the host to the relay and starts the tick.
    void attach(Relay& relay);
    // From now on runOnMainThread refuses, and every caller waiting in it is let go.
    // Main thread, at the start of shutdown, before the reconnect thread is stopped.
    void beginShutdown();

    [[nodiscard]] bool runOnMainThread(const std::function<void()>& task) override;
    void watchSocket(int link, int socket) override;
    void unwatchSocket(int link, int socket) override;
    void watchForRoom(int link, int socket, bool on) override;

  private:
    struct Request;
    void onReadable(int link, int socket);
    void onWritable(int link, int socket);
    void runPendingTasks();

    Relay* relay_ = nullptr;
    QTimer tick_;
    std::array<QSocketNotifier*, LINK_COUNT> notifiers_{};
    std::array<QSocketNotifier*, LINK_COUNT> roomNotifiers_{};

    // Tasks from other threads wait in pending_; a write to the event descriptor
    // wakes the main thread, whose notifier runs them. Everything the two threads
    // share is under mutex_ (Qt's own queued calls would hand a functor over
    // through atomics inside Qt, which the thread sanitizer cannot follow).
    int wakeFd_ = -1;
    QSocketNotifier* wakeNotifier_ = nullptr;
    std::mutex mutex_;
    std::condition_variable answered_;
    std::deque<std::shared_ptr<Request>> pending_;
    bool shuttingDown_ = false;
};

}  // namespace velgor
