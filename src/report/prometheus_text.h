#pragma once

#include <string>

#include "report/station_snapshot.h"

namespace velgor {

// The metrics file: the snapshot in the Prometheus text exposition format
// (version 0.0.4), every sample labelled with the station and the relay.
std::string formatPrometheusText(const StationSnapshot& snapshot);

}  // namespace velgor
