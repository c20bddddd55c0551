#pragma once

#include <string>

#include "report/station_snapshot.h"

namespace velgor {

// The status file "status.json": the snapshot as one JSON object, UTF-8, ending
// with a line feed.
std::string formatStatusJson(const StationSnapshot& snapshot);

}  // namespace velgor
