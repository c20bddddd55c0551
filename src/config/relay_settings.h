#pragma once

#include <cstdint>
#include <vector>

#include "config/fixed_text.h"

namespace velgor {

// Coordinates are typed and stored in files as decimal degrees, but held in
// memory as arc-seconds.
inline constexpr double ARC_SECONDS_PER_DEGREE = 3600.0;

// Every setting of the relay, created with the built-in defaults and then
// filled from the settings files. Flags are tested as zero / non-zero.
//
// Threads: only the main thread writes. The reconnect thread reads the
// handshake fields (stationName, stationLatitude, stationLongitude, binaryMode,
// compressEnabled); whoever shares a RelaySettings between threads must hand it
// a consistent copy (see the link table).
struct RelaySettings {
    std::int32_t binaryMode = 0;
    std::int32_t compressEnabled = 0;
    std::int32_t watchdogEnabled = 0;
    std::int32_t noDataLimit = 60;           // in ticks of 100 ms
    std::int32_t signalThreshold = 50;       // compared unsigned with a record's level
    std::int32_t compressTicks = 50;         // in ticks of 100 ms
    std::int32_t timerFrequency = 12000000;  // receiver clock counts per second (unsigned divisor)
    Text256 stationName{"Kervala"};
    double stationLatitude = 47.1982 * ARC_SECONDS_PER_DEGREE;
    double stationLongitude = 39.6282 * ARC_SECONDS_PER_DEGREE;

    // Held and kept, used by no facility of the relay.
    Text256 comPortName{"COM1"};
    Text256 comPortSpeed{"9600"};
    std::uint16_t udpPort = 17219;
    Text256 udpAddress{"127.255.255.255"};
    std::uint16_t localServerPort = 7777;
    std::vector<char> icaoListText;  // whole "icao24plus.txt", zero-terminated; empty when not read
};

}  // namespace velgor
