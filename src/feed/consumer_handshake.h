#pragma once

#include <cstdint>

#include "config/fixed_text.h"
#include "config/relay_settings.h"
#include "sys/socket_ops.h"

namespace velgor {

// The nearest double to 1/3600: arc-seconds times this are degrees.
inline constexpr double DEGREES_PER_ARC_SECOND = 0.0002777777777777778;

// Each handshake line is made in a field of this size: "#", at most 252 bytes of
// station name, CR LF and the terminating NUL.
inline constexpr std::size_t HANDSHAKE_LINE_BYTES = 256;
inline constexpr std::size_t HANDSHAKE_NAME_MAX = HANDSHAKE_LINE_BYTES - 4;

// The settings the handshake announces, copied at one moment so that the thread
// that connects sends one consistent picture.
struct HandshakeValues {
    Text256 stationName;
    double stationLatitude = 0.0;   // arc-seconds
    double stationLongitude = 0.0;  // arc-seconds
    std::int32_t binaryMode = 0;
    std::int32_t compressEnabled = 0;
};

HandshakeValues handshakeValuesOf(const RelaySettings& settings);

// Introduces the station on a new consumer connection with four separate sends:
//   "#<name>\r\n", "#<latitude>\r\n", "#<longitude>\r\n" (degrees, six decimals, '.'
//   whatever the locale), "#BINARY" or "#TEXT", ":COMPRESS" when compressing, "\r\n".
// A name longer than 252 bytes is cut to 252. Send results are not looked at.
void sendConsumerHandshake(SocketOps& ops, int socket, const HandshakeValues& values);

}  // namespace velgor
