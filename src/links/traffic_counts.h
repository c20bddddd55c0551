#pragma once

#include <array>
#include <cstdint>

#include "config/link_endpoint.h"
#include "links/link_drop.h"

namespace velgor {

// What the relay has done since it started, for the periodic summary. Every
// figure only grows; a summary reports the difference between two readings.
struct TrafficCounts {
    std::uint64_t linesReceived = 0;   // lines the decoder finished
    std::uint64_t linesHeldBack = 0;   // binary records below the signal threshold
    std::uint64_t linesForwarded = 0;  // lines handed to the consumer link while it was up
    std::uint64_t bytesSent = 0;       // bytes the consumer socket took after the handshakes
    // With compression on: batch bytes compressed, and the frames they made.
    std::uint64_t bytesCompressed = 0;
    std::uint64_t framedBytes = 0;
    std::uint64_t framesSent = 0;
    // Batches dropped unsent: the stream mode changed while the consumer was down.
    std::uint64_t batchesDropped = 0;
    std::array<std::uint64_t, LINK_COUNT> connectionsMade{};
    std::array<std::uint64_t, LINK_COUNT> connectionsLost{};
    // The same losses by cause (index: DropCause).
    std::array<std::array<std::uint64_t, DROP_CAUSE_COUNT>, LINK_COUNT> lostBy{};
};

// One connection of `link` lost for `cause`.
inline void countLoss(TrafficCounts& counts, int link, DropCause cause) {
    const auto slot = static_cast<std::size_t>(link);
    ++counts.connectionsLost[slot];
    ++counts.lostBy[slot][static_cast<std::size_t>(cause)];
}

}  // namespace velgor
