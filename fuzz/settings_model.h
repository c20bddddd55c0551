#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings_sections.h"

namespace velgor::fuzz {

struct ModelEndpoint {
    std::uint16_t port = 0;
    std::string host = "127.0.0.1";
};

// What the settings should hold after a start-up load over the given files,
// worked out from the file rules with the C library's own number parsers.
struct ModelSettings {
    std::int32_t binaryMode = 0;
    std::int32_t compressEnabled = 0;
    std::int32_t watchdogEnabled = 0;
    std::int32_t noDataLimit = 60;
    std::int32_t signalThreshold = 50;
    std::int32_t compressTicks = 50;
    std::int32_t timerFrequency = 12000000;
    std::string stationName = "Kervala";
    double latitudeDegrees = 47.1982;
    double longitudeDegrees = 39.6282;
    bool coordinatesKnown = true;  // false: a number form the C parser reads differently
    std::string comPortName = "COM1";
    std::string comPortSpeed = "9600";
    std::uint16_t udpPort = 17219;
    std::string udpAddress = "127.255.255.255";
    std::uint16_t localServerPort = 7777;
    std::vector<char> icaoListText;
    ModelEndpoint local{9999, "127.0.0.1"};
    ModelEndpoint source{7777, "127.0.0.1"};
    ModelEndpoint consumer{8888, "127.0.0.1"};
};

ModelSettings modelLoad(const SettingsDirContent& dir);

}  // namespace velgor::fuzz
