#pragma once

namespace velgor {

// The settings files, by the bare names the relay has always used. Each is
// resolved against the settings directory (the working directory in the program).
inline constexpr const char* SETTINGS_FILE_SERIAL = "init.ini";            // port name, speed
inline constexpr const char* SETTINGS_FILE_ICAO_LIST = "icao24plus.txt";   // held, not interpreted
inline constexpr const char* SETTINGS_FILE_UDP = "udp.ini";                // port, address
inline constexpr const char* SETTINGS_FILE_LOCAL_LINK = "initsocket.ini";  // port, host
inline constexpr const char* SETTINGS_FILE_SOURCE_LINK = "initmkp1.ini";   // port, host
inline constexpr const char* SETTINGS_FILE_MODES = "BinarComOn.ini";       // 3 flags, no-data limit
inline constexpr const char* SETTINGS_FILE_CONSUMER_LINK = "initmkp2.ini";  // port, host
inline constexpr const char* SETTINGS_FILE_POINT = "point.ini";  // latitude, longitude (degrees)
inline constexpr const char* SETTINGS_FILE_NAME = "name.ini";    // station name
inline constexpr const char* SETTINGS_FILE_THRESHOLD = "porog.ini";      // signal threshold
inline constexpr const char* SETTINGS_FILE_COMPRESS_STEP = "time.ini";   // batch length in ticks
inline constexpr const char* SETTINGS_FILE_FREQUENCY = "frequency.ini";  // receiver clock
inline constexpr const char* SETTINGS_FILE_WATCH = "watch.ini";  // status interval (s), metrics dir
inline constexpr const char* SETTINGS_PROBE_FILE = "testNaWriteFile.txt";

}  // namespace velgor
