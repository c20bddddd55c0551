#include "decoder_model.h"

#include <cstring>

namespace velgor::fuzz {

namespace {

constexpr unsigned char ESCAPE = 0x1A;
constexpr int LAST_INDEX = 1023;

int recordBytes(unsigned char type) {
    return type == '1' ? 11 : type == '2' ? 16 : type == '3' ? 23 : 0;
}

void appendHex(std::string& text, unsigned char byte) {
    static const char digits[] = "0123456789ABCDEF";
    text += digits[byte >> 4];
    text += digits[byte & 15];
}

}  // namespace

void DecoderModel::decodeBlock(const unsigned char* bytes, std::size_t count, bool binaryMode,
                               std::int32_t signalThreshold, ModelLines& out) {
    for (std::size_t i = 0; i < count; ++i) {
        if (binaryMode) {
            binaryByte(bytes[i], signalThreshold, out);
        } else {
            textByte(bytes[i], out);
        }
    }
}

void DecoderModel::clear() {
    buffer_.fill(0);
    fill_ = 0;
}

void DecoderModel::textByte(unsigned char b, ModelLines& out) {
    buffer_[static_cast<std::size_t>(fill_)] = b;
    if (b == '\r' || b == '\n') {
        buffer_[static_cast<std::size_t>(fill_)] = 0;
        const char* text = reinterpret_cast<const char*>(buffer_.data());
        if (text[0] == '*' || text[0] == '@' || std::strncmp(text, "MSG", 3) == 0) {
            ModelLine& line = out.add();
            line.text.assign(text);
            line.text += "\r\n";
            line.forwarded = true;
        }
        clear();
        return;
    }
    ++fill_;
    // A buffer left full by binary mode may already stand past the limit.
    if (fill_ >= LAST_INDEX) clear();
}

void DecoderModel::binaryByte(unsigned char b, std::int32_t signalThreshold,
                              ModelLines& out) {
    if (last_ == ESCAPE) {
        if (b == ESCAPE) {  // the second half of a doubled escape
            last_ = 0;
            return;
        }
        if (recordBytes(b) != 0) {  // a record starts; whatever was there is abandoned
            buffer_[0] = ESCAPE;
            buffer_[1] = b;
            fill_ = 2;
            last_ = b;
            return;
        }
    }
    buffer_[static_cast<std::size_t>(fill_)] = b;
    last_ = b;
    if (fill_ < LAST_INDEX) ++fill_;

    const int length = recordBytes(buffer_[1]);
    if (buffer_[0] != ESCAPE || length == 0 || fill_ != length) return;
    ModelLine& line = out.add();
    line.text.assign("@");
    for (int i = 2; i < 8; ++i) appendHex(line.text, buffer_[static_cast<std::size_t>(i)]);
    for (int i = 9; i < length; ++i) appendHex(line.text, buffer_[static_cast<std::size_t>(i)]);
    line.text += ";\r\n";
    line.forwarded = std::uint32_t{buffer_[8]} >= static_cast<std::uint32_t>(signalThreshold);
    clear();
}

}  // namespace velgor::fuzz
