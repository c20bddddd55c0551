#include "feed/frame_block.h"

namespace velgor {
namespace {

std::size_t escapedSize(unsigned char byte) {
    return byte == FRAME_DLE ? 2 : 1;
}

}  // namespace

bool frameBlock(unsigned char type, unsigned char* buffer, std::size_t& length) {
    const std::size_t payload = length;
    if (payload > FRAME_PAYLOAD_MAX) return false;

    const std::size_t field = payload + FRAME_HEADER_BYTES;
    const auto lengthHigh = static_cast<unsigned char>(field >> 8);
    const auto lengthLow = static_cast<unsigned char>(field & 0xFF);

    std::size_t framed =
        2 + escapedSize(type) + escapedSize(lengthHigh) + escapedSize(lengthLow) + 1 + payload + 2;
    for (std::size_t i = 0; i < payload; ++i) {
        if (buffer[i] == FRAME_DLE) ++framed;
    }

    // Built in place from the back: each payload byte moves to a later position than
    // the one it is read from, so no byte is overwritten before it has been read.
    std::size_t out = framed;
    auto put = [&](unsigned char byte) { buffer[--out] = byte; };
    auto putEscaped = [&](unsigned char byte) {
        put(byte);
        if (byte == FRAME_DLE) put(byte);
    };
    put(FRAME_ETX);
    put(FRAME_DLE);
    for (std::size_t i = payload; i > 0; --i) putEscaped(buffer[i - 1]);
    put(0x00);
    putEscaped(lengthLow);
    putEscaped(lengthHigh);
    putEscaped(type);
    put(FRAME_STX);
    put(FRAME_DLE);

    length = framed;
    return true;
}

}  // namespace velgor
