// Fuzzes the start-up load of the settings files: the input becomes a set of
// settings files in memory (any bytes: NUL bytes, lone CRs, very long lines,
// numbers far out of range, directories where files should be), the loader reads
// them through loadSettingsFromBytes (the entry loadSettings reads a directory
// through), and every value must stay within its field and match what the file
// rules give, worked out independently. A directory counts as an absent file, as
// the directory reader makes it.
//
// Input: sections as described in settings_sections.h.

#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <string>

#include "config/link_endpoint.h"
#include "config/relay_settings.h"
#include "config/settings_loader.h"
#include "fuzz_check.h"
#include "settings_model.h"
#include "settings_sections.h"

namespace {

using velgor::fuzz::SETTINGS_FILE_COUNT;
using velgor::fuzz::SETTINGS_FILES;

// A text field holds a NUL within its 256 bytes and no line end before it.
void checkField(const velgor::Text256& field, const std::string& expected, const char* what) {
    const std::size_t length = strnlen(field.c_str(), velgor::Text256::size());
    FUZZ_CHECK(length < velgor::Text256::size(), what);
    FUZZ_CHECK(std::memchr(field.c_str(), '\r', length) == nullptr, what);
    FUZZ_CHECK(std::memchr(field.c_str(), '\n', length) == nullptr, what);
    FUZZ_CHECK(field.view() == expected, what);
}

void checkEndpoint(const velgor::LinkEndpoint& endpoint, const velgor::fuzz::ModelEndpoint& model,
                   const char* what) {
    FUZZ_CHECK(endpoint.port == model.port, what);
    checkField(endpoint.host, model.host, what);
}

void checkCoordinate(double loaded, double degrees, bool known, const char* what) {
    FUZZ_CHECK(!std::isnan(loaded), what);
    if (known) FUZZ_CHECK(loaded == degrees * velgor::ARC_SECONDS_PER_DEGREE, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const velgor::fuzz::SettingsDirContent dir = velgor::fuzz::decodeSettingsSections(data, size);
    std::array<velgor::SettingsFileBytes, SETTINGS_FILE_COUNT> files;
    std::size_t fileCount = 0;
    for (std::size_t i = 0; i < SETTINGS_FILE_COUNT; ++i) {
        if (dir[i].present && !dir[i].directory) {
            files[fileCount++] = {SETTINGS_FILES[i], dir[i].bytes};
        }
    }

    velgor::RelaySettings settings;
    velgor::LinkEndpoint local;
    velgor::LinkEndpoint source;
    velgor::LinkEndpoint consumer;
    local.port = velgor::DEFAULT_LOCAL_PORT;
    source.port = velgor::DEFAULT_SOURCE_PORT;
    consumer.port = velgor::DEFAULT_CONSUMER_PORT;
    velgor::loadSettingsFromBytes(std::span(files.data(), fileCount), settings, local, source,
                                  consumer);
    const velgor::fuzz::ModelSettings m = velgor::fuzz::modelLoad(dir);

    FUZZ_CHECK(settings.binaryMode == m.binaryMode, "binaryMode");
    FUZZ_CHECK(settings.compressEnabled == m.compressEnabled, "compressEnabled");
    FUZZ_CHECK(settings.watchdogEnabled == m.watchdogEnabled, "watchdogEnabled");
    FUZZ_CHECK(settings.noDataLimit == m.noDataLimit, "noDataLimit");
    FUZZ_CHECK(settings.signalThreshold == m.signalThreshold, "signalThreshold");
    FUZZ_CHECK(settings.compressTicks == m.compressTicks, "compressTicks");
    FUZZ_CHECK(settings.timerFrequency == m.timerFrequency, "timerFrequency");
    checkField(settings.stationName, m.stationName, "stationName");
    checkCoordinate(settings.stationLatitude, m.latitudeDegrees, m.coordinatesKnown,
                    "stationLatitude");
    checkCoordinate(settings.stationLongitude, m.longitudeDegrees, m.coordinatesKnown,
                    "stationLongitude");
    checkField(settings.comPortName, m.comPortName, "comPortName");
    checkField(settings.comPortSpeed, m.comPortSpeed, "comPortSpeed");
    FUZZ_CHECK(settings.udpPort == m.udpPort, "udpPort");
    checkField(settings.udpAddress, m.udpAddress, "udpAddress");
    FUZZ_CHECK(settings.localServerPort == m.localServerPort, "localServerPort");
    FUZZ_CHECK(settings.icaoListText == m.icaoListText, "icaoListText");
    checkEndpoint(local, m.local, "local endpoint");
    checkEndpoint(source, m.source, "source endpoint");
    checkEndpoint(consumer, m.consumer, "consumer endpoint");

    velgor::releaseSettings(settings);
    FUZZ_CHECK(settings.icaoListText.empty(), "icao list kept after release");
    return 0;
}
