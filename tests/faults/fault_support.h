#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velgor::test {

// Closes a socket with a reset instead of an orderly close (SO_LINGER with a zero
// time), as a peer that crashes with unread data or a middlebox does.
void resetAndClose(int fd);

// One binary record as a receiver writes it, and the line the relay makes of it.
struct ReceiverRecord {
    std::string wire;  // 0x1A, type, timestamp, level, message; data 0x1A bytes doubled
    std::string line;  // "@" + hex digits + ";\r\n"
};

// A record of type '1', '2' or '3' with the given 48-bit timestamp; the message
// bytes are derived from `seed` and include 0x1A bytes when `withEscapes` is set.
ReceiverRecord makeRecord(char type, std::uint64_t timestamp, unsigned seed,
                          bool withEscapes = false);

// Whether a line forwarded to the consumer is well formed: "@" and 12 + 4, 14 or
// 28 upper-case hex digits and ";", or '*' + hex + ';' (the receiver's text
// lines), each ended by CR LF and nothing else inside.
bool wellFormedLine(std::string_view line);

// Everything after the four handshake lines of a consumer connection's stream;
// `handshake` receives the four lines themselves (each with CR LF).
std::string afterHandshake(std::string_view stream, std::vector<std::string>* handshake = nullptr);

}  // namespace velgor::test
