#include "frame_stream_reader.h"

#include <zlib.h>

#include <array>
#include <vector>

namespace velgor::fuzz {

namespace {

constexpr unsigned char DLE = 0x10;
constexpr unsigned char STX = 0x02;
constexpr unsigned char ETX = 0x03;
constexpr unsigned char COMPRESSED_TYPE = 101;

// One inflate stream for every frame of every run, reset between frames: a new
// stream per frame would cost more than the frame.
z_stream* sharedInflateStream() {
    static z_stream stream{};
    static const bool ready = inflateInit(&stream) == Z_OK;
    return ready ? &stream : nullptr;
}

// Inflates one whole zlib stream; false unless it ends exactly at the payload's end.
bool inflateWhole(const std::vector<unsigned char>& payload, std::size_t from, std::string& out) {
    z_stream* stream = sharedInflateStream();
    if (stream == nullptr || inflateReset(stream) != Z_OK) return false;
    stream->next_in = const_cast<unsigned char*>(payload.data() + from);
    stream->avail_in = static_cast<uInt>(payload.size() - from);
    std::array<unsigned char, 16384> chunk;  // written by inflate before it is read
    int result = Z_OK;
    while (result == Z_OK) {
        stream->next_out = chunk.data();
        stream->avail_out = static_cast<uInt>(chunk.size());
        result = inflate(stream, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - stream->avail_out);
        if (result == Z_BUF_ERROR && stream->avail_in == 0) break;  // input ran out early
    }
    return result == Z_STREAM_END && stream->avail_in == 0;
}

}  // namespace

FrameStream readFrameStream(const unsigned char* wire, std::size_t length) {
    FrameStream result;
    std::vector<unsigned char> body;
    std::size_t pos = 0;
    while (pos < length) {
        if (pos + 1 >= length || wire[pos] != DLE || wire[pos + 1] != STX) {
            result.error = "bytes between frames";
            return result;
        }
        pos += 2;
        body.clear();
        for (;;) {
            if (pos >= length) {
                result.error = "frame without its end";
                return result;
            }
            if (wire[pos] != DLE) {
                body.push_back(wire[pos++]);
                continue;
            }
            if (pos + 1 >= length) {
                result.error = "frame cut after a DLE";
                return result;
            }
            const unsigned char next = wire[pos + 1];
            pos += 2;
            if (next == ETX) break;
            if (next != DLE) {
                result.error = "DLE neither doubled nor closing";
                return result;
            }
            body.push_back(DLE);
        }
        if (body.size() < 4 || body[0] != COMPRESSED_TYPE || body[3] != 0) {
            result.error = "bad frame head";
            return result;
        }
        const std::size_t counted = std::size_t{body[1]} << 8 | body[2];
        if (counted != body.size()) {
            result.error = "length field does not count the frame";
            return result;
        }
        if (!inflateWhole(body, 4, result.content)) {
            result.error = "payload is not one whole zlib stream";
            return result;
        }
        ++result.frames;
    }
    return result;
}

}  // namespace velgor::fuzz
