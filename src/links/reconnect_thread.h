#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "links/retry_schedule.h"

namespace velgor {

class Relay;

// The pauses of the reconnect cycle: 0.5 s, the source attempt, 0.5 s, the
// consumer attempt, 0.5 s.
inline constexpr std::chrono::milliseconds RECONNECT_PAUSE{500};

// Keeps the source and consumer links connected: every cycle it makes one
// attempt on each of them that is not up, the source first. The consumer's
// attempts thin out once they have failed for a while (retry_schedule.h). stop()
// ends it without waiting for a connect or name look-up in progress.
class ReconnectThread {
  public:
    explicit ReconnectThread(Relay& relay, RetrySchedule consumerSchedule = consumerRetryPause)
        : relay_(relay), consumerSchedule_(consumerSchedule) {}
    ~ReconnectThread() { stop(); }
    ReconnectThread(const ReconnectThread&) = delete;
    ReconnectThread& operator=(const ReconnectThread&) = delete;

    void start();
    void stop();

  private:
    using Clock = std::chrono::steady_clock;

    void run(std::stop_token stop);
    // The consumer's turn of a cycle: an attempt unless it is backing off.
    void consumerTurn(std::stop_token stop);

    Relay& relay_;
    RetrySchedule consumerSchedule_;
    // The consumer's run of failed attempts (thread's own): since when, to where,
    // and when the next attempt is due. Only this thread touches them.
    std::optional<Clock::time_point> consumerFailingSince_;
    std::uint16_t failingPort_ = 0;
    std::string failingHost_;
    Clock::time_point consumerDueAt_{};
    std::minstd_rand jitter_{std::random_device{}()};
    std::jthread thread_;
};

}  // namespace velgor
