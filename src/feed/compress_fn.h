#pragma once

namespace velgor {

// zlib's one-shot `compress`: (dest, in: capacity / out: compressed length, source,
// source length). Returns 0 on success.
using CompressFn = int (*)(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                           unsigned long sourceLen);

// zlib's success code; any other result of a CompressFn is a failure.
inline constexpr int COMPRESS_OK = 0;

// The most a zlib stream made by `compress` can take for sourceLength input bytes
// (zlib's own compressBound formula), so that a block that does not fit somewhere is
// found out by its size and never by the compressor running out of room.
constexpr unsigned long compressedSizeBound(unsigned long sourceLength) {
    return sourceLength + (sourceLength >> 12) + (sourceLength >> 14) + (sourceLength >> 25) + 13;
}

}  // namespace velgor
