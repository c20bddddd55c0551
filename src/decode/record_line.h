#pragma once

#include <cstddef>

namespace velgor {

// Binary records as they sit in the decoder's buffer once the doubled 0x1A
// escapes are removed: 0x1A, the type byte, a 6-byte timestamp (most
// significant byte first), the signal level, then the message.
inline constexpr unsigned char RECORD_ESCAPE = 0x1A;
inline constexpr std::size_t RECORD_TIMESTAMP_OFFSET = 2;
inline constexpr std::size_t RECORD_LEVEL_OFFSET = 8;
inline constexpr std::size_t RECORD_MESSAGE_OFFSET = 9;

// The whole length of a record of the given type byte, escape and type byte
// included: '1' 11 bytes (2-byte message), '2' 16 (7), '3' 23 (14); 0 for a
// byte that is no record type.
constexpr std::size_t recordLength(unsigned char type) {
    switch (type) {
        case '1':
            return 11;
        case '2':
            return 16;
        case '3':
            return 23;
        default:
            return 0;
    }
}

// The longest record line ('3'): '@', 40 hex digits, ';', CR, LF.
inline constexpr std::size_t MAX_RECORD_LINE_LENGTH = 44;

// Writes the record's text line into out (room for MAX_RECORD_LINE_LENGTH + 1
// bytes): '@', the timestamp and message bytes as upper-case hex pairs (the
// level byte left out), ";\r\n" and a NUL. Returns the length without the NUL:
// 20, 30 or 44 for records of 11, 16 or 23 bytes.
std::size_t formatRecordLine(const unsigned char* record, std::size_t recordLength, char* out);

}  // namespace velgor
