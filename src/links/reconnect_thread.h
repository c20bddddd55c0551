#pragma once

#include <chrono>
#include <thread>

namespace velgor {

class Relay;

// The pauses of the reconnect cycle: 0.5 s, the source attempt, 0.5 s, the
// consumer attempt, 0.5 s.
inline constexpr std::chrono::milliseconds RECONNECT_PAUSE{500};

// Keeps the source and consumer links connected: every cycle it makes one
// attempt on each of them that is not up, the source first. stop() ends it
// without waiting for a connect or name look-up in progress.
class ReconnectThread {
  public:
    explicit ReconnectThread(Relay& relay) : relay_(relay) {}
    ~ReconnectThread() { stop(); }
    ReconnectThread(const ReconnectThread&) = delete;
    ReconnectThread& operator=(const ReconnectThread&) = delete;

    void start();
    void stop();

  private:
    void run(std::stop_token stop);

    Relay& relay_;
    std::jthread thread_;
};

}  // namespace velgor
