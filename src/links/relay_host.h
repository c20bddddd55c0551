#pragma once

#include <functional>

namespace velgor {

// What the relay needs from the program it runs in: a main thread with an event
// loop. The desktop and console front ends implement it on Qt's event loop;
// tests implement it on a small loop of their own.
class RelayHost {
  public:
    virtual ~RelayHost() = default;

    // Runs `task` on the main thread and returns once it has run. Called by the
    // reconnect thread. Returns false, without running the task, once the program
    // is shutting down (the caller then abandons what it was doing).
    [[nodiscard]] virtual bool runOnMainThread(const std::function<void()>& task) = 0;

    // Main thread only. Starts reporting readiness of a connected link socket as
    // that link's socket events (see pendingSocketEvent), or stops it. watchSocket
    // returns false, watching nothing, when the system refuses to report the
    // socket's events (the link must not go up then).
    [[nodiscard]] virtual bool watchSocket(int link, int socket) = 0;
    virtual void unwatchSocket(int link, int socket) = 0;
    // Main thread only. While on, a watched link socket with room for more bytes
    // is reported as FD_WRITE to that link's handler (the consumer link turns it
    // on while bytes wait in its queue). unwatchSocket turns it off too.
    virtual void watchForRoom(int link, int socket, bool on) = 0;
    // Main thread only. While on, a watched link socket's incoming bytes are left
    // waiting in the system and not reported; its peer's close, a reset or an error
    // is still reported as FD_CLOSE, without reading what came before it (soon:
    // within a tick). Turned off, its bytes are reported again, those that came
    // meanwhile included, and then the close (the source link holds the receiver
    // back this way while the consumer's queue is full). watchSocket and
    // unwatchSocket turn it off.
    virtual void holdReading(int link, int socket, bool on) = 0;
};

}  // namespace velgor
