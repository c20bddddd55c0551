#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "config/watch_settings.h"
#include "links/relay.h"
#include "report/station_snapshot.h"

namespace velgor {

inline constexpr const char* STATUS_FILE_NAME = "status.json";

// Writes the status file (in the settings directory) and the metrics file (in
// the metrics directory) every interval, from the relay's tick. The metrics
// file is named after the settings directory ("velgor-<hash>.prom"), so that
// relays sharing one metrics directory never write the same file; its samples
// carry that directory as their "relay" label. Main thread only.
class StationReport {
  public:
    StationReport(Relay& relay, const std::string& settingsDir, const WatchSettings& watch);

    // Called every tick: notes what changed, and writes both files when due.
    void tick();

    const std::string& statusPath() const { return statusPath_; }
    const std::string& metricsPath() const { return metricsPath_; }

  private:
    using SteadyTime = std::chrono::steady_clock::time_point;

    void observe(SteadyTime now, UnixSeconds wallNow);
    StationSnapshot snapshot(SteadyTime now, UnixSeconds wallNow) const;
    // Replaces one file; a failure is told once, until the file is written again.
    void write(std::size_t file, const std::string& path, const std::string& text);

    Relay& relay_;
    std::chrono::seconds interval_;
    std::string relayId_;
    std::string statusPath_;
    std::string metricsPath_;
    UnixSeconds started_ = 0;
    SteadyTime nextWrite_{};
    // What the ticks saw: the connections made so far and since when the
    // present one is up, and when the receiver's last line came.
    std::array<std::uint64_t, 2> connectionsSeen_{};
    std::array<std::optional<UnixSeconds>, 2> connectedSince_{};
    std::uint64_t linesSeen_ = 0;
    std::optional<SteadyTime> lastLine_;
    std::array<bool, 2> failing_{};
};

}  // namespace velgor
