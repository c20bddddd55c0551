#pragma once

#include <chrono>

namespace velgor {

// When the consumer link tries again after failed attempts. For the first
// CONSUMER_PATIENT_SPAN of failures it keeps the reconnect thread's cycle (an
// attempt every 1.5 s), so a short outage recovers at once. After that each pause
// is a quarter of the time the link has been failing, up to CONSUMER_PAUSE_MAX:
// 7.5 s, 9.4 s, 11.7 s, ... 30 s. Time lost after the server comes back is so at
// most a quarter of the outage, while a fleet of stations sends a server that is
// down some 20 times fewer attempts than the fixed cycle would. Each grown pause
// is spread by up to CONSUMER_PAUSE_JITTER either way, so that stations that
// lost the server together do not come back in step.
inline constexpr std::chrono::seconds CONSUMER_PATIENT_SPAN{30};
inline constexpr std::chrono::seconds CONSUMER_PAUSE_MAX{30};
inline constexpr int CONSUMER_PAUSE_SHARE_DIVISOR = 4;  // pause = failing time / 4
inline constexpr double CONSUMER_PAUSE_JITTER = 0.2;

// The pause, before jitter, after an attempt that failed `failingFor` after the
// first failure of this run of failures; zero means "at the next cycle".
[[nodiscard]] std::chrono::milliseconds consumerRetryPause(std::chrono::milliseconds failingFor);
using RetrySchedule = std::chrono::milliseconds (*)(std::chrono::milliseconds failingFor);
// `pause` spread by `unit` (from -1 to 1) times CONSUMER_PAUSE_JITTER of itself.
[[nodiscard]] std::chrono::milliseconds withJitter(std::chrono::milliseconds pause, double unit);

}  // namespace velgor
