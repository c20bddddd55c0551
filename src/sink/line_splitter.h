#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velgor::sink {

using Bytes = std::span<const std::uint8_t>;

// Where the splitter hands what it found. Every byte fed goes to exactly one of
// the two calls, in order, so together they reproduce the stream.
class LineSink {
  public:
    virtual ~LineSink() = default;
    // One whole text line, its CR LF (or LF) included.
    virtual void line(Bytes bytes) = 0;
    // Bytes that are not text lines: the receiver's binary records in raw
    // pass-through, or a line cut off at the end of a connection.
    virtual void rawBytes(Bytes bytes) = 0;
};

// Splits the data of a feed into text lines, and tells binary data (raw
// pass-through of a receiver's records) from them: a piece ending in LF is a
// line when all its bytes are printable ASCII (or TAB or CR) and it is not
// empty. Once binary data has been seen, a piece is taken as a line again only
// when it also looks like one of the relay's lines (beginning with '*', '@' or
// 'M', at least MIN_RESYNC_LINE bytes), so that binary records that happen to
// hold a short printable run between two 0x0A bytes are not shown as lines.
class LineSplitter {
  public:
    static constexpr std::size_t MAX_LINE = 2048;
    static constexpr std::size_t MIN_RESYNC_LINE = 8;

    explicit LineSplitter(LineSink& sink) : sink_(sink) {}

    void feed(Bytes bytes);
    // The end of the stream: a line that was not finished goes out as raw bytes.
    void finish();

  private:
    bool isLine(std::size_t length) const;
    void flushPendingAsRaw();

    LineSink& sink_;
    std::array<std::uint8_t, MAX_LINE> pending_{};
    std::size_t pendingLength_ = 0;
    bool binaryPiece_ = false;  // the current piece holds binary bytes (sent on as raw)
    bool inBinary_ = false;     // binary data seen, no relay line since
};

}  // namespace velgor::sink
