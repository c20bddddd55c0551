#pragma once

#include <array>
#include <cstddef>

#include "config/relay_settings.h"
#include "decode/line_outlet.h"

namespace velgor {

// Turns the bytes read from the receiver into lines: text lines beginning
// '*', '@' or "MSG" in text mode, and "@<timestamp><message>;" lines made from
// 0x1A-escaped records in binary mode. A pure parser: it is fed with blocks as
// they arrive (a line or record may be split at any byte) and hands every
// finished line to its outlet before the call returns.
//
// Its state (the line buffer, its fill count and the escape tracker) carries
// over blocks and switches of binaryMode. The relay resets it when the source
// connection ends, so that the tail of a record or line cut off by a lost
// connection is never completed with the bytes of the next one.
class SourceDecoder {
  public:
    static constexpr std::size_t LINE_BUFFER_BYTES = 1024;
    // The fill count never passes this: a text line is restarted when it gets
    // there, a binary buffer saturates there.
    static constexpr int MAX_FILL = 1023;

    SourceDecoder(const RelaySettings& settings, LineOutlet& outlet);

    // Consumes count bytes (nothing when count <= 0), in the mode that
    // settings.binaryMode has at the start of the call.
    void decodeSourceBlock(const unsigned char* bytes, int count);
    // Forgets whatever is half-assembled: empty buffer, no open escape.
    void reset();

    int fillCount() const { return fill_; }
    unsigned char lastSourceByte() const { return lastSourceByte_; }
    // The first fillCount() bytes are what is being assembled.
    const unsigned char* lineBuffer() const { return buffer_.data(); }

  private:
    void decodeText(const unsigned char* bytes, std::size_t count);
    void finishTextLine();
    void decodeBinary(const unsigned char* bytes, std::size_t count);
    void decodeBinaryByte(unsigned char b);
    void finishRecord(std::size_t length);
    void emit(std::size_t length, bool forward);

    const RelaySettings& settings_;
    LineOutlet& outlet_;
    std::array<unsigned char, LINE_BUFFER_BYTES> buffer_{};
    int fill_ = 0;
    unsigned char lastSourceByte_ = 0;
    // The finished line: at most 1023 collected bytes (a text line is cut off
    // at 1022, but a binary buffer saturated at 1023 may be finished as a text
    // line after a mode switch), CR LF and the NUL.
    std::array<char, MAX_FILL + 3> line_{};
};

}  // namespace velgor
