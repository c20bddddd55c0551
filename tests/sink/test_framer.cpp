#include "sink/test_framer.h"

#include <zlib.h>

namespace velgor::sink::test {

ByteString bytesOf(std::string_view text) {
    return ByteString(text.begin(), text.end());
}

std::string textOf(const ByteString& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ByteString zlibCompress(std::string_view data, int level) {
    ByteString out(compressBound(static_cast<uLong>(data.size())));
    uLongf length = static_cast<uLongf>(out.size());
    const auto* source = reinterpret_cast<const Bytef*>(data.data());
    const int rc = compress2(out.data(), &length, source, static_cast<uLong>(data.size()), level);
    out.resize(rc == Z_OK ? length : 0);
    return out;
}

ByteString frame(const ByteString& block, int lengthField, std::uint8_t type) {
    const auto length =
        static_cast<unsigned>(lengthField >= 0 ? lengthField : static_cast<int>(block.size()) + 4);
    ByteString undoubled = {type, static_cast<std::uint8_t>(length >> 8),
                            static_cast<std::uint8_t>(length & 0xFF), 0};
    undoubled.insert(undoubled.end(), block.begin(), block.end());
    ByteString wire = {0x10, 0x02};
    for (std::uint8_t b : undoubled) {
        wire.push_back(b);
        if (b == 0x10) wire.push_back(b);
    }
    wire.push_back(0x10);
    wire.push_back(0x03);
    return wire;
}

}  // namespace velgor::sink::test
