#pragma once

#include <cstddef>
#include <string>

namespace velgor::fuzz {

// What a consumer makes of a compressed feed: the frames found and the bytes they
// carried, inflated and joined in order.
struct FrameStream {
    std::size_t frames = 0;
    std::string content;
    std::string error;  // empty when the whole stream was well-formed
};

// Reads a compressed feed on its own terms, sharing nothing with the sender: each
// frame must open with DLE STX and close with DLE ETX, every DLE between them must
// be doubled, the type must be 101, the length field must count the undoubled type,
// length, zero and payload bytes, and the payload must inflate as one whole zlib
// stream with nothing left over. Nothing may stand between frames.
FrameStream readFrameStream(const unsigned char* wire, std::size_t length);

}  // namespace velgor::fuzz
