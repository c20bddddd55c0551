#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <array>

#include "config/link_endpoint.h"
#include "links/relay_host.h"
#include "sys/main_thread_tasks.h"

namespace velgor {

class Relay;

// The relay's host on Qt's event loop (QCoreApplication or QApplication): the
// main thread runs every handler; a socket notifier per live link turns
// readiness into FD_READ / FD_CLOSE events (switched off while the link's reading
// is held: a held socket is asked at every tick whether its peer is gone, which is
// then reported as FD_CLOSE); a 100 ms timer runs the tick duties.
class QtRelayHost : public QObject, public RelayHost {
    Q_OBJECT
  public:
    static constexpr int TICK_MS = 100;

    QtRelayHost();
    ~QtRelayHost() override;

    // Connects the host to the relay and starts the tick.
    void attach(Relay& relay);
    // Runs `duty` on every tick too, after the relay's own duties.
    void addTickDuty(const std::function<void()>& duty);
    // From now on runOnMainThread refuses, and every caller waiting in it is let go.
    // Main thread, at the start of shutdown, before the reconnect thread is stopped.
    void beginShutdown();

    [[nodiscard]] bool runOnMainThread(const std::function<void()>& task) override;
    [[nodiscard]] bool watchSocket(int link, int socket) override;
    void unwatchSocket(int link, int socket) override;
    void watchForRoom(int link, int socket, bool on) override;
    void holdReading(int link, int socket, bool on) override;

  private:
    void onReadable(int link, int socket);
    void onWritable(int link, int socket);
    // Reports the close of each held socket whose peer is gone.
    void checkHeldSockets();

    Relay* relay_ = nullptr;
    QTimer tick_;
    std::array<QSocketNotifier*, LINK_COUNT> notifiers_{};
    std::array<QSocketNotifier*, LINK_COUNT> roomNotifiers_{};
    std::array<bool, LINK_COUNT> holding_{};

    // Tasks from other threads; their wake-up descriptor's notifier runs them.
    // (Qt's own queued calls would hand a functor over through atomics inside
    // Qt, which the thread sanitizer cannot follow.)
    MainThreadTasks tasks_;
    QSocketNotifier* wakeNotifier_ = nullptr;
};

}  // namespace velgor
