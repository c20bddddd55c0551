#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velgor {

// How the relay is watched from outside: every `intervalSeconds` it writes its
// status file and its metrics file (0 or less: never). Read from "watch.ini":
// line 1 the interval, line 2 the directory of the metrics file (empty or
// missing: the working directory).
struct WatchSettings {
    std::int32_t intervalSeconds = 0;
    std::string metricsDirectory;
};

// Reads "watch.ini" in dir (empty: the working directory); a missing file or a
// missing line leaves the defaults.
WatchSettings loadWatchSettings(const std::string& dir);

// The same read over the file's bytes already in memory; loadWatchSettings reads
// the file through the same rules.
WatchSettings loadWatchSettingsFromBytes(std::string_view bytes);

}  // namespace velgor
