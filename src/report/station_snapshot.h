#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "links/link_drop.h"
#include "links/traffic_counts.h"

namespace velgor {

// Times are seconds since 1970 (UTC), with a fraction.
using UnixSeconds = double;

// One link as a watcher sees it. Texts are UTF-8.
struct LinkSnapshot {
    const char* name = "";   // "source" or "consumer"
    const char* state = "";  // "idle", "failed", "up", "down"
    bool up = false;
    std::string status;
    std::string host;
    std::uint16_t port = 0;
    std::optional<UnixSeconds> connectedSince;  // while up
    std::uint64_t connectionsMade = 0;
    std::array<std::uint64_t, DROP_CAUSE_COUNT> lostBy{};
};

// The relay at one moment, as the status file and the metrics file show it.
struct StationSnapshot {
    UnixSeconds written = 0;
    UnixSeconds expires = 0;
    UnixSeconds started = 0;
    std::string version;
    std::string relayId;  // tells two relays of one machine apart (UTF-8)
    std::string stationName;
    double latitude = 0;  // degrees
    double longitude = 0;
    std::array<LinkSnapshot, 2> links;
    TrafficCounts counts;
    std::uint64_t queuedBytes = 0;  // waiting for the consumer
    bool sourceHeld = false;
    std::optional<double> secondsSinceLastLine;  // none before the first line
};

// The cause's name in both files ("peer_closed", ...).
const char* dropCauseName(std::size_t cause);

// Bytes in per byte out of compression; none before the first batch.
std::optional<double> compressionRatio(const TrafficCounts& counts);

}  // namespace velgor
