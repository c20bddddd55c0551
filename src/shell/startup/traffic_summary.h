#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "links/traffic_counts.h"

namespace velgor {

// A line about what the relay did over a while, for a log that should not carry
// every line relayed:
//   summary of the last 60 s: 20000 lines received, 10000 forwarded, 10000 held
//   back by the signal threshold, 300000 bytes sent (compressed 4.21:1);
//   source: 1 connected, 0 lost; consumer: 1 connected, 0 lost
// (one line). The compression ratio appears when batches were compressed.
std::string describeTraffic(const TrafficCounts& since, const TrafficCounts& now,
                            std::chrono::seconds over);

// The summary every `interval`: due() gives the line once the interval has
// passed since the last one, last() the line for the time since then, begun
// "at exit: ".
class PeriodicSummary {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds DEFAULT_INTERVAL{60};

    explicit PeriodicSummary(std::chrono::seconds interval, Clock::time_point start = Clock::now());

    std::optional<std::string> due(const TrafficCounts& now, Clock::time_point at = Clock::now());
    std::string last(const TrafficCounts& now, Clock::time_point at = Clock::now());

    std::chrono::seconds interval() const { return interval_; }

  private:
    std::chrono::seconds interval_;
    Clock::time_point since_;
    TrafficCounts counts_;
};

// The interval a text names in whole seconds (VELGOR_SUMMARY_SECONDS); the
// default for no text, or one that is not a number from 1 to 86400.
std::chrono::seconds summaryInterval(const char* text);

}  // namespace velgor
