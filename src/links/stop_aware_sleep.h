#pragma once

#include <chrono>
#include <stop_token>

namespace velgor {

// Sleeps for `duration`, or until a stop is requested, whichever comes first.
// Returns false when a stop was requested.
[[nodiscard]] bool sleepUnlessStopped(std::chrono::milliseconds duration, std::stop_token stop);

}  // namespace velgor
