#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e/recorded_stream.h"
#include "e2e/run_stats.h"
#include "e2e/stream_reader.h"

namespace velgor::e2e {

// Who carries the stream from the player to the reader.
enum class Carrier {
    Relay,     // the relay program, console front end, its own settings files
    Socat,     // socat copying the bytes (no decoding)
    Dump1090,  // the receiver in network-only mode: binary in, '@' lines out
};
const char* carrierName(Carrier carrier);

// The units of a paced run, one write each: binary records carry their index + 1
// as timestamp, text lines go in order.
struct PacedPlan {
    std::vector<std::string> units;
    std::string played;                   // all units, back to back
    std::string expectedLines;            // the relay's lines for them
    std::vector<std::uint64_t> unitEnds;  // offset after each unit in `played`
    UnitId unitId = UnitId::Ordinal;
    double rate = 0;  // units per second
};
PacedPlan pacedPlan(const Workload& workload, std::size_t count, double rate);

struct HarnessConfig {
    std::string relayProgram;
    std::string baselineProgram;  // another build of the relay, for before/after
    std::string socatProgram = "/usr/bin/socat";
    std::string dump1090Program = "/usr/bin/dump1090-mutability";
    std::string workDirectory;
    std::size_t records = 3'000'000;  // bulk runs: at least this many units
    double pacedRate = 10'000;        // units per second of a latency run
    double stationRate = 2'000;       // units per second of a busy station's run
    std::chrono::seconds idle{10};    // how long an idle run watches the relay
    int watchSeconds = 0;             // the relay's status and metrics files every S s (0: none)
    // Profiling the relay: a command put before the relay's own (for example
    // valgrind --tool=callgrind), and one attached to it during the play, given
    // "-p PID" (for example perf record -e cpu-clock -g -o FILE).
    std::vector<std::string> relayWrapper;
    std::vector<std::string> attachProfiler;
};

struct Scenario {
    Carrier carrier = Carrier::Relay;
    const Workload* workload = nullptr;
    bool compressed = false;           // relay only: compression step 1
    const PacedPlan* paced = nullptr;  // null: bulk (as fast as possible)
    bool baseline = false;             // relay only: the baseline build
    bool idle = false;                 // nothing played: both links up, no traffic
};

struct Measurement {
    bool ok = false;
    std::string problem;
    std::uint64_t unitsPlayed = 0;
    std::uint64_t unitsDelivered = 0;
    double seconds = 0;               // first write to the last unit counted
    double unitsPerSecond = 0;        // delivered units over `seconds`
    double cpuSeconds = 0;            // the carrier's, over the same span
    double cpuSecondsPerMillion = 0;  // per million units played
    double cpuPercent = 0;            // CPU seconds over `seconds`, as % of one core
    double wakeupsPerSecond = 0;      // the carrier's context switches over `seconds`
    long peakResidentKb = 0;
    bool verified = false;  // content checked and equal (not possible for Dump1090)
    LatencySummary latency;
};

Measurement runScenario(const Scenario& scenario, const HarnessConfig& config);

}  // namespace velgor::e2e
