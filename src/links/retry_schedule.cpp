#include "links/retry_schedule.h"

#include <algorithm>

namespace velgor {

std::chrono::milliseconds consumerRetryPause(std::chrono::milliseconds failingFor) {
    if (failingFor < CONSUMER_PATIENT_SPAN) return std::chrono::milliseconds{0};
    return std::min<std::chrono::milliseconds>(failingFor / CONSUMER_PAUSE_SHARE_DIVISOR,
                                               CONSUMER_PAUSE_MAX);
}

std::chrono::milliseconds withJitter(std::chrono::milliseconds pause, double unit) {
    const double spread = std::clamp(unit, -1.0, 1.0) * CONSUMER_PAUSE_JITTER;
    return std::chrono::milliseconds{
        static_cast<long long>(static_cast<double>(pause.count()) * (1.0 + spread))};
}

}  // namespace velgor
