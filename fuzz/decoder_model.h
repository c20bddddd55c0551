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

// The lines of one block, in order. The strings are kept when the list is cleared,
// so that a run reuses them instead of allocating a string per line.
class ModelLines {
  public:
    ModelLine& add() {
        if (count_ == items_.size()) items_.emplace_back();
        return items_[count_++];
    }
    void clear() { count_ = 0; }
    std::size_t size() const { return count_; }
    const ModelLine& operator[](std::size_t i) const { return items_[i]; }

  private:
    std::vector<ModelLine> items_;
    std::size_t count_ = 0;
};

// The receiver-stream decoder written the plain way, one byte at a time and
// straight from the stream rules, as the yardstick for the real decoder (which
// takes bulk paths through text lines and record bodies). Same state: a 1024-byte
// buffer cleared after each line, its fill count and the escape tracker.
class DecoderModel {
  public:
    void decodeBlock(const unsigned char* bytes, std::size_t count, bool binaryMode,
                     std::int32_t signalThreshold, ModelLines& out);

    int fillCount() const { return fill_; }
    unsigned char lastSourceByte() const { return last_; }
    const unsigned char* buffer() const { return buffer_.data(); }

  private:
    void textByte(unsigned char b, ModelLines& out);
    void binaryByte(unsigned char b, std::int32_t signalThreshold, ModelLines& out);
    void clear();

    std::array<unsigned char, 1024> buffer_{};
    int fill_ = 0;
    unsigned char last_ = 0;
};

}  // namespace velgor::fuzz
