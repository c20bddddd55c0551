#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sink/frame_reader.h"
#include "sink/line_splitter.h"

namespace velgor::sink {

inline constexpr int HANDSHAKE_LINES = 4;

// The four lines a relay sends first on each connection, as received (Windows-1251
// bytes), each without its CR LF.
struct Handshake {
    std::array<std::string, HANDSHAKE_LINES> lines;

    // The text of a line after its leading '#' (the whole line when it has none).
    std::string field(int index) const;
    bool allMarked() const;  // every line begins with '#'
    // The mode line carries ":COMPRESS": the data comes in compressed frames.
    bool compressed() const;
    // The mode line is one of "#TEXT", "#BINARY", each with or without ":COMPRESS".
    bool knownMode() const;
};

// What a FeedStream found: the handshake, then the data as lines and raw bytes.
class FeedListener : public LineSink {
  public:
    virtual void handshake(const Handshake& received) = 0;
};

// The consumer's side of one connection from the relay, fed with the bytes as
// they arrive, in pieces of any size: the four handshake lines, then, when the
// mode line announces compression, DLE-framed zlib blocks whose inflated content
// is the data, else the data itself, split into lines (or raw bytes).
class FeedStream : private LineSink {
  public:
    // A handshake line is kept up to this many bytes; the rest is dropped.
    static constexpr std::size_t MAX_HANDSHAKE_LINE = 1024;

    explicit FeedStream(FeedListener& listener);
    FeedStream(const FeedStream&) = delete;
    FeedStream& operator=(const FeedStream&) = delete;

    void feed(Bytes bytes);
    // The connection ended: a line cut off goes out as raw bytes.
    void finish();

    int handshakeLinesSeen() const { return handshakeLine_; }
    bool handshakeComplete() const { return handshakeLine_ == HANDSHAKE_LINES; }
    const Handshake& handshake() const { return handshake_; }
    bool compressed() const { return compressed_; }

    std::uint64_t lines() const { return lines_; }
    std::uint64_t rawBytes() const { return rawBytes_; }
    std::uint64_t frames() const { return frames_.framesRead(); }
    std::uint64_t badFrames() const { return frames_.badFrames(); }
    std::uint64_t strayBytes() const { return frames_.strayBytes(); }
    const std::string& lastFrameError() const { return frames_.lastError(); }

  private:
    std::size_t feedHandshake(Bytes bytes);
    void line(Bytes bytes) override;
    void rawBytes(Bytes bytes) override;

    FeedListener& listener_;
    Handshake handshake_;
    int handshakeLine_ = 0;
    bool compressed_ = false;
    LineSplitter splitter_;
    FrameReader frames_;
    std::uint64_t lines_ = 0;
    std::uint64_t rawBytes_ = 0;
};

}  // namespace velgor::sink
