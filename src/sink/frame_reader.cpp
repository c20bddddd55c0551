#include "sink/frame_reader.h"

#include <zlib.h>

namespace velgor::sink {
namespace {

constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr std::uint8_t COMPRESSED_BLOCK = 101;
constexpr std::size_t HEADER_BYTES = 4;  // type, length high, length low, zero

// Inflates one zlib stream whose size is not known in advance, refusing output
// beyond `limit` bytes.
[[nodiscard]] bool inflateAll(const std::uint8_t* data, std::size_t length, std::size_t limit,
                              std::string& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(length);
    char chunk[16384];
    int rc = Z_OK;
    while (rc == Z_OK && out.size() <= limit) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
        if (rc == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break;
    }
    const bool ok = rc == Z_STREAM_END && stream.avail_in == 0 && out.size() <= limit;
    inflateEnd(&stream);
    return ok;
}

}  // namespace

void FrameReader::feed(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state_) {
            case State::Outside:
                if (b == DLE) {
                    state_ = State::OutsideDle;
                } else {
                    ++strayBytes_;
                }
                break;
            case State::OutsideDle:
                if (b == STX) {
                    startFrame();
                    state_ = State::Inside;
                } else {
                    strayBytes_ += 2;
                    state_ = b == DLE ? State::OutsideDle : State::Outside;
                    if (b == DLE) --strayBytes_;
                }
                break;
            case State::Inside:
                if (b == DLE) {
                    state_ = State::InsideDle;
                } else {
                    keep(b);
                }
                break;
            case State::InsideDle:
                if (b == DLE) {
                    keep(DLE);
                    state_ = State::Inside;
                } else if (b == ETX) {
                    finishFrame();
                    state_ = State::Outside;
                } else {
                    reject("a single DLE inside a frame");
                    state_ = b == STX ? State::Inside : State::Outside;
                    startFrame();
                }
                break;
        }
    }
}

void FrameReader::startFrame() {
    frame_.clear();
    frameTooLong_ = false;
}

void FrameReader::keep(std::uint8_t b) {
    if (frame_.size() < MAX_FRAME) {
        frame_.push_back(b);
    } else {
        frameTooLong_ = true;
    }
}

void FrameReader::finishFrame() {
    if (frameTooLong_) return reject("frame longer than its length field can describe");
    if (frame_.size() < HEADER_BYTES) return reject("frame shorter than its header");
    if (frame_[0] != COMPRESSED_BLOCK) return reject("frame type is not 101");
    const std::size_t declared = static_cast<std::size_t>(frame_[1]) << 8 | frame_[2];
    const std::size_t payload = frame_.size() - HEADER_BYTES;
    if (declared != payload + HEADER_BYTES) {
        return reject("length field " + std::to_string(declared) + " for a payload of " +
                      std::to_string(payload));
    }
    if (frame_[3] != 0) return reject("header byte after the length is not zero");
    std::string inflated;
    if (!inflateAll(frame_.data() + HEADER_BYTES, payload, MAX_INFLATED, inflated)) {
        return reject("payload is not one whole zlib stream of at most " +
                      std::to_string(MAX_INFLATED) + " bytes");
    }
    ++framesRead_;
    onBlock_(inflated);
}

void FrameReader::reject(const std::string& why) {
    ++badFrames_;
    lastError_ = why;
}

}  // namespace velgor::sink
