#pragma once

#include <string>

#include "config/link_endpoint.h"
#include "config/relay_settings.h"

namespace velgor {

// Reads every settings file of dir (empty = the working directory) into the
// settings and the three link endpoints, in the relay's fixed order. A file
// that is absent or cannot be opened is skipped and leaves what is already
// there (the defaults, or what an earlier file set). Values are not
// validated. Never fails.
void loadSettings(const std::string& dir, RelaySettings& settings, LinkEndpoint& local,
                  LinkEndpoint& source, LinkEndpoint& consumer);

// Frees the text of "icao24plus.txt".
void releaseSettings(RelaySettings& settings);

}  // namespace velgor
