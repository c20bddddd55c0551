#include "feed/consumer_handshake.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "feed/send_loop.h"

namespace velgor {
namespace {

// Room for "#", the widest double in fixed notation with six decimals (a sign, 309
// integer digits, the point and six decimals), CR LF and a NUL.
constexpr std::size_t COORDINATE_LINE_BYTES = 1 + 1 + 309 + 1 + 6 + 3;

void sendLine(SocketOps& ops, int socket, const char* line, std::size_t length) {
    // Not looked at: the handshake goes on with its next line whatever this one's
    // sends gave; a connection that failed shows as closed once the link is watched.
    (void)sendWithRetry(ops, socket, line, static_cast<int>(length));
}

void sendNameLine(SocketOps& ops, int socket, const Text256& name) {
    char line[HANDSHAKE_LINE_BYTES];
    std::string_view text = name.view();
    if (text.size() > HANDSHAKE_NAME_MAX) text = text.substr(0, HANDSHAKE_NAME_MAX);
    std::size_t n = 0;
    line[n++] = '#';
    std::memcpy(line + n, text.data(), text.size());
    n += text.size();
    line[n++] = '\r';
    line[n++] = '\n';
    line[n] = '\0';
    sendLine(ops, socket, line, n);
}

// "%.6f" of the value in degrees; std::to_chars prints exactly what printf prints in
// the "C" locale, whatever locale the process runs in.
void sendCoordinateLine(SocketOps& ops, int socket, double arcSeconds) {
    char line[COORDINATE_LINE_BYTES];
    char* const last = line + sizeof line - 3;  // keep room for CR LF NUL
    line[0] = '#';
    const auto result = std::to_chars(line + 1, last, arcSeconds * DEGREES_PER_ARC_SECOND,
                                      std::chars_format::fixed, 6);
    char* p = result.ec == std::errc{} ? result.ptr : line + 1;
    *p++ = '\r';
    *p++ = '\n';
    *p = '\0';
    sendLine(ops, socket, line, static_cast<std::size_t>(p - line));
}

void sendModeLine(SocketOps& ops, int socket, std::int32_t binaryMode,
                  std::int32_t compressEnabled) {
    char line[HANDSHAKE_LINE_BYTES];
    std::size_t n = 0;
    auto append = [&](std::string_view part) {
        std::memcpy(line + n, part.data(), part.size());
        n += part.size();
    };
    append(binaryMode != 0 ? "#BINARY" : "#TEXT");
    if (compressEnabled != 0) append(":COMPRESS");
    append("\r\n");
    line[n] = '\0';
    sendLine(ops, socket, line, n);
}

}  // namespace

HandshakeValues handshakeValuesOf(const RelaySettings& settings) {
    HandshakeValues values;
    values.stationName = settings.stationName;
    values.stationLatitude = settings.stationLatitude;
    values.stationLongitude = settings.stationLongitude;
    values.binaryMode = settings.binaryMode;
    values.compressEnabled = settings.compressEnabled;
    return values;
}

void sendConsumerHandshake(SocketOps& ops, int socket, const HandshakeValues& values) {
    sendNameLine(ops, socket, values.stationName);
    sendCoordinateLine(ops, socket, values.stationLatitude);
    sendCoordinateLine(ops, socket, values.stationLongitude);
    sendModeLine(ops, socket, values.binaryMode, values.compressEnabled);
}

}  // namespace velgor
