#include "decode/record_line.h"

#include <array>
#include <cstring>

namespace velgor {

namespace {

// Two upper-case hex digits for each byte value: one 2-byte copy per byte
// instead of a formatted print.
constexpr std::array<char, 512> HEX_PAIRS = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 512> table{};
    for (std::size_t value = 0; value < 256; ++value) {
        table[2 * value] = digits[value >> 4];
        table[2 * value + 1] = digits[value & 0x0F];
    }
    return table;
}();

inline char* putHex(char* out, unsigned char byte) {
    std::memcpy(out, &HEX_PAIRS[2 * std::size_t{byte}], 2);
    return out + 2;
}

}  // namespace

std::size_t formatRecordLine(const unsigned char* record, std::size_t length, char* out) {
    char* p = out;
    *p++ = '@';
    for (std::size_t i = RECORD_TIMESTAMP_OFFSET; i < RECORD_LEVEL_OFFSET; ++i) {
        p = putHex(p, record[i]);
    }
    for (std::size_t i = RECORD_MESSAGE_OFFSET; i < length; ++i) p = putHex(p, record[i]);
    *p++ = ';';
    *p++ = '\r';
    *p++ = '\n';
    *p = '\0';
    return static_cast<std::size_t>(p - out);
}

}  // namespace velgor
