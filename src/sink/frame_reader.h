#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velgor::sink {

// The consumer's side of a compressed feed: finds DLE STX ... DLE ETX frames in
// a byte stream that may arrive in any pieces, removes the doubled DLEs, checks
// the header (type 101, length = payload + 4, a zero byte) and inflates the
// payload. Written from the wire format alone; it shares no code with the sender.
class FrameReader {
  public:
    using BlockHandler = std::function<void(const std::string& inflated)>;

    // The largest frame content a 16-bit length field can describe (type, length,
    // zero byte and payload, undoubled). Longer content is not kept.
    static constexpr std::size_t MAX_FRAME = 0xFFFF;
    // A block inflating to more than this is refused (a relay's batch holds at
    // most 64 KiB; the margin leaves room for larger batches).
    static constexpr std::size_t MAX_INFLATED = 1u << 20;

    explicit FrameReader(BlockHandler onBlock) : onBlock_(std::move(onBlock)) {}

    void feed(const std::uint8_t* bytes, std::size_t length);

    std::uint64_t framesRead() const { return framesRead_; }
    // Frames with a wrong type, length field, zero byte or payload that does
    // not inflate.
    std::uint64_t badFrames() const { return badFrames_; }
    // Bytes found outside any frame.
    std::uint64_t strayBytes() const { return strayBytes_; }
    const std::string& lastError() const { return lastError_; }

  private:
    void startFrame();
    void keep(std::uint8_t b);
    void finishFrame();
    void reject(const std::string& why);

    enum class State { Outside, OutsideDle, Inside, InsideDle };
    State state_ = State::Outside;
    std::vector<std::uint8_t> frame_;  // undoubled bytes between STX and ETX
    bool frameTooLong_ = false;        // more than MAX_FRAME bytes: dropped at its ETX
    BlockHandler onBlock_;
    std::uint64_t framesRead_ = 0;
    std::uint64_t badFrames_ = 0;
    std::uint64_t strayBytes_ = 0;
    std::string lastError_;
};

}  // namespace velgor::sink
