#include "decode/source_decoder.h"

#include <cstdint>
#include <cstring>

#include "decode/record_line.h"

namespace velgor {

namespace {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;

// Where the binary decoder stands. The escape tracker and the head of the
// buffer are the whole state; this names it, so that the bulk path can be
// taken where it gives the same result as going byte by byte.
enum class BinaryState {
    Loose,         // the buffer does not hold the beginning of a record; bytes pile up
    LooseEscape,   // as Loose, and the last byte examined is an open 0x1A
    Record,        // the buffer holds the first bytes of a record of recordLen bytes
    RecordEscape,  // as Record, and the last byte examined is an open 0x1A
};

BinaryState binaryState(const unsigned char* buffer, int fill, unsigned char lastByte,
                        std::size_t& recordLen) {
    const bool escape = lastByte == RECORD_ESCAPE;
    recordLen = 0;
    if (fill >= 2 && buffer[0] == RECORD_ESCAPE) {
        const std::size_t length = recordLength(buffer[1]);
        if (static_cast<std::size_t>(fill) < length) {
            recordLen = length;
            return escape ? BinaryState::RecordEscape : BinaryState::Record;
        }
    }
    return escape ? BinaryState::LooseEscape : BinaryState::Loose;
}

// Copies bytes until the first 0x1A or span bytes; returns how many were
// copied. Eight bytes at a time while none of them is 0x1A (a record body is
// at most 21 bytes, so a call is a handful of word moves, not a library call).
std::size_t copyUpToEscape(unsigned char* to, const unsigned char* from, std::size_t span) {
    constexpr std::uint64_t ONES = 0x0101010101010101ULL;
    constexpr std::uint64_t HIGHS = 0x8080808080808080ULL;
    std::size_t k = 0;
    for (; k + 8 <= span; k += 8) {
        std::uint64_t word;
        std::memcpy(&word, from + k, 8);
        const std::uint64_t x = word ^ (ONES * RECORD_ESCAPE);  // zero byte where 0x1A was
        if (((x - ONES) & ~x & HIGHS) != 0) break;
        std::memcpy(to + k, &word, 8);
    }
    for (; k < span && from[k] != RECORD_ESCAPE; ++k) to[k] = from[k];
    return k;
}

}  // namespace

SourceDecoder::SourceDecoder(const RelaySettings& settings, LineOutlet& outlet)
    : settings_(settings), outlet_(outlet) {}

void SourceDecoder::reset() {
    buffer_.fill(0);
    fill_ = 0;
    lastSourceByte_ = 0;
}

void SourceDecoder::decodeSourceBlock(const unsigned char* bytes, int count) {
    if (count <= 0 || bytes == nullptr) return;
    // The mode is read once: the whole block is decoded in it.
    if (settings_.binaryMode != 0) {
        decodeBinary(bytes, static_cast<std::size_t>(count));
    } else {
        decodeText(bytes, static_cast<std::size_t>(count));
    }
}

// Text mode: collect bytes up to a CR or LF, then take the line if it begins
// with '*', '@' or "MSG". A line that reaches 1023 bytes without an end is
// discarded and its rest collected as a new line.
void SourceDecoder::decodeText(const unsigned char* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        // Bytes that can be taken before the fill count reaches its limit; at
        // least one, for a buffer that binary mode left saturated.
        const std::size_t room =
            fill_ < MAX_FILL ? static_cast<std::size_t>(MAX_FILL - fill_) : std::size_t{1};
        const std::size_t span = count - i < room ? count - i : room;
        std::size_t end = i;
        const std::size_t stop = i + span;
        while (end < stop && bytes[end] != CR && bytes[end] != LF) ++end;

        const std::size_t taken = end - i;
        if (taken > 0) {
            std::memcpy(buffer_.data() + fill_, bytes + i, taken);
            fill_ += static_cast<int>(taken);
        }
        i = end;
        if (end < stop) {
            // The line end becomes the NUL that closes the line.
            buffer_[static_cast<std::size_t>(fill_)] = '\0';
            finishTextLine();
            fill_ = 0;
            ++i;
        } else if (fill_ >= MAX_FILL) {
            fill_ = 0;
        }
    }
}

void SourceDecoder::finishTextLine() {
    const char* text = reinterpret_cast<const char*>(buffer_.data());
    // Read as a C string: a NUL inside the line cuts it there, and every byte
    // read lies at or before the NUL just written.
    const bool taken =
        text[0] == '*' || text[0] == '@' || (text[0] == 'M' && text[1] == 'S' && text[2] == 'G');
    if (!taken) return;  // other lines, empty ones included, leave no trace
    const std::size_t length = strnlen(text, static_cast<std::size_t>(fill_));
    std::memcpy(line_.data(), text, length);
    line_[length] = '\r';
    line_[length + 1] = '\n';
    line_[length + 2] = '\0';
    emit(length + 2, true);
}

void SourceDecoder::decodeBinary(const unsigned char* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        std::size_t recordLen = 0;
        if (binaryState(buffer_.data(), fill_, lastSourceByte_, recordLen) == BinaryState::Record) {
            // Inside a record, every byte up to the next 0x1A is plain data:
            // copy it at once, at most up to the record's end.
            const std::size_t need = recordLen - static_cast<std::size_t>(fill_);
            const std::size_t span = count - i < need ? count - i : need;
            const std::size_t taken = copyUpToEscape(buffer_.data() + fill_, bytes + i, span);
            if (taken > 0) {
                fill_ += static_cast<int>(taken);
                lastSourceByte_ = bytes[i + taken - 1];
                i += taken;
                if (static_cast<std::size_t>(fill_) == recordLen) finishRecord(recordLen);
                continue;
            }
        }
        decodeBinaryByte(bytes[i++]);
    }
}

// One byte by the escape rules. A 0x1A is first stored as data; only the byte
// after it decides: a second 0x1A is dropped (a doubled escape, which then
// opens nothing), a type byte starts a record, anything else stays as data.
void SourceDecoder::decodeBinaryByte(unsigned char b) {
    if (lastSourceByte_ == RECORD_ESCAPE) {
        if (b == RECORD_ESCAPE) {
            lastSourceByte_ = 0;
            return;
        }
        if (recordLength(b) != 0) {
            // Whatever the buffer held is abandoned.
            buffer_[0] = RECORD_ESCAPE;
            buffer_[1] = b;
            fill_ = 2;
            lastSourceByte_ = b;
            return;
        }
    }
    buffer_[static_cast<std::size_t>(fill_)] = b;
    lastSourceByte_ = b;
    if (fill_ < MAX_FILL) ++fill_;  // saturated: later bytes overwrite the last one
    // A buffer that begins with 0x1A and a type byte is complete at that
    // type's length, however it came to begin so.
    if (buffer_[0] == RECORD_ESCAPE) {
        const std::size_t length = recordLength(buffer_[1]);
        if (length != 0 && static_cast<std::size_t>(fill_) == length) finishRecord(length);
    }
}

void SourceDecoder::finishRecord(std::size_t length) {
    const std::size_t lineLength = formatRecordLine(buffer_.data(), length, line_.data());
    // Both taken as unsigned 32-bit: a negative threshold lets nothing through.
    const auto level = static_cast<std::uint32_t>(buffer_[RECORD_LEVEL_OFFSET]);
    const auto threshold = static_cast<std::uint32_t>(settings_.signalThreshold);
    emit(lineLength, level >= threshold);
}

void SourceDecoder::emit(std::size_t length, bool forward) {
    if (forward) outlet_.forwardLine(line_.data(), length);
    outlet_.showLine(line_.data(), length);
    outlet_.lineFinished();
    fill_ = 0;
}

}  // namespace velgor
