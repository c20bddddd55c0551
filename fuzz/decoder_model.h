#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velgor::fuzz {

// One line as the decoder hands it over.
struct ModelLine {
    std::string text;  // CR LF included
    bool forwarded = false;
};

// The receiver-stream decoder written the plain way, one byte at a time and
// straight from the stream rules, as the yardstick for the real decoder (which
// takes bulk paths through text lines and record bodies). Same state: a 1024-byte
// buffer cleared after each line, its fill count and the escape tracker.
class DecoderModel {
  public:
    void decodeBlock(const unsigned char* bytes, std::size_t count, bool binaryMode,
                     std::int32_t signalThreshold, std::vector<ModelLine>& out);

    int fillCount() const { return fill_; }
    unsigned char lastSourceByte() const { return last_; }
    const unsigned char* buffer() const { return buffer_.data(); }

  private:
    void textByte(unsigned char b, std::vector<ModelLine>& out);
    void binaryByte(unsigned char b, std::int32_t signalThreshold, std::vector<ModelLine>& out);
    void clear();

    std::array<unsigned char, 1024> buffer_{};
    int fill_ = 0;
    unsigned char last_ = 0;
};

}  // namespace velgor::fuzz
