#pragma once

#include <span>
#include <string>
#include <string_view>

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

// One settings file's bytes, under its bare name (settings_file_names.h).
struct SettingsFileBytes {
    std::string_view name;
    std::string_view bytes;
};

// The same load over files already in memory: a name that `files` does not hold
// counts as an absent file. loadSettings reads the directory's files through the
// same rules.
void loadSettingsFromBytes(std::span<const SettingsFileBytes> files, RelaySettings& settings,
                           LinkEndpoint& local, LinkEndpoint& source, LinkEndpoint& consumer);

// Frees the text of "icao24plus.txt".
void releaseSettings(RelaySettings& settings);

}  // namespace velgor
