#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// One of the traffic counters, as both files name it.
struct TrafficCounter {
    std::string_view jsonName;    // in status.json's "traffic"
    std::string_view metricName;  // a counter of the metrics file
    std::string_view help;
    std::uint64_t TrafficCounts::*value;
};

// The counters both files carry, in the order they show them.
inline constexpr std::array<TrafficCounter, 7> TRAFFIC_COUNTERS{{
    {"lines_received", "velgor_lines_received_total", "Lines decoded from the receiver.",
     &TrafficCounts::linesReceived},
    {"lines_forwarded", "velgor_lines_forwarded_total",
     "Lines handed to the consumer link while it was up.", &TrafficCounts::linesForwarded},
    {"lines_held_back", "velgor_lines_held_back_total", "Lines held back by the signal threshold.",
     &TrafficCounts::linesHeldBack},
    {"bytes_sent", "velgor_consumer_sent_bytes_total",
     "Bytes the consumer connections took after their handshakes.", &TrafficCounts::bytesSent},
    {"bytes_compressed", "velgor_compression_input_bytes_total",
     "Batch bytes compressed for the consumer.", &TrafficCounts::bytesCompressed},
    {"framed_bytes", "velgor_compression_output_bytes_total",
     "Frame bytes the compressed batches became.", &TrafficCounts::framedBytes},
    {"frames_sent", "velgor_consumer_frames_total",
     "Compressed frames handed to the consumer link.", &TrafficCounts::framesSent},
}};

// The cause's name in both files ("peer_closed", ...).
const char* dropCauseName(std::size_t cause);

// Bytes in per byte out of compression; none before the first batch.
std::optional<double> compressionRatio(const TrafficCounts& counts);

}  // namespace velgor
