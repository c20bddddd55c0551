#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velgor::sink::test {

using ByteString = std::vector<std::uint8_t>;

ByteString bytesOf(std::string_view text);
std::string textOf(const ByteString& bytes);

// One zlib stream of `data`, as zlib's compress() (or compress2() at `level`) makes it.
ByteString zlibCompress(std::string_view data, int level = -1);

// The frame a relay puts on the wire around a compressed block: DLE STX, type,
// length (block + 4, high byte first), a zero byte, the block, DLE ETX, with
// every 0x10 between the start and end pairs doubled. `lengthField` overrides
// the length and `type` the type, to make broken frames.
ByteString frame(const ByteString& block, int lengthField = -1, std::uint8_t type = 101);

}  // namespace velgor::sink::test
