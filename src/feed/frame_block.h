#pragma once

#include <cstddef>

namespace velgor {

// Framing of blocks on the compressed consumer feed:
//   DLE STX, type, length high, length low, 0x00, payload, DLE ETX
// where the length field holds the payload length + 4, and every DLE between the
// start and the end pair (type, length bytes and payload alike) is sent twice.
inline constexpr unsigned char FRAME_DLE = 0x10;
inline constexpr unsigned char FRAME_STX = 0x02;
inline constexpr unsigned char FRAME_ETX = 0x03;
inline constexpr unsigned char COMPRESSED_BLOCK = 101;

// Bytes the length field counts beyond the payload: type, two length bytes, zero.
inline constexpr std::size_t FRAME_HEADER_BYTES = 4;
// The length field is 16 bits, so a payload may hold at most 65535 - 4 bytes.
inline constexpr std::size_t FRAME_LENGTH_FIELD_MAX = 0xFFFF;
inline constexpr std::size_t FRAME_PAYLOAD_MAX = FRAME_LENGTH_FIELD_MAX - FRAME_HEADER_BYTES;

// Room a frame may need for a payload of `payloadLength` bytes: an upper bound that
// counts every byte from the type to the end of the payload doubled, plus the start
// and end pairs.
constexpr std::size_t frameCapacityFor(std::size_t payloadLength) {
    return 2 * (payloadLength + FRAME_HEADER_BYTES) + 4;
}
// The largest frame there can be (131074 bytes).
inline constexpr std::size_t FRAME_BYTES_MAX = frameCapacityFor(FRAME_PAYLOAD_MAX);

// Replaces the `length` payload bytes at the start of `buffer` by their frame and sets
// `length` to the frame's length. The buffer must hold frameCapacityFor(length) bytes.
// Returns false, leaving buffer and length as they were, when the payload is longer
// than FRAME_PAYLOAD_MAX (its length would not fit the length field).
[[nodiscard]] bool frameBlock(unsigned char type, unsigned char* buffer, std::size_t& length);

}  // namespace velgor
