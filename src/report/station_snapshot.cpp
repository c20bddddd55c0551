#include "report/station_snapshot.h"

namespace velgor {

const char* dropCauseName(std::size_t cause) {
    static constexpr std::array<const char*, DROP_CAUSE_COUNT> NAMES = {
        "operator",         "peer_closed",       "connection_error", "watchdog",
        "consumer_stalled", "consumer_overflow", "send_failed"};
    return cause < NAMES.size() ? NAMES[cause] : "unknown";
}

std::optional<double> compressionRatio(const TrafficCounts& counts) {
    if (counts.framedBytes == 0) return std::nullopt;
    return static_cast<double>(counts.bytesCompressed) / static_cast<double>(counts.framedBytes);
}

}  // namespace velgor
