#include "sink/line_splitter.h"

namespace velgor::sink {
namespace {

constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t TAB = 0x09;
constexpr std::size_t NO_RUN = static_cast<std::size_t>(-1);

bool isTextByte(std::uint8_t b) {
    return (b >= 0x20 && b < 0x7F) || b == TAB || b == CR || b == LF;
}

bool beginsRelayLine(std::uint8_t b) {
    return b == '*' || b == '@' || b == 'M';
}

}  // namespace

void LineSplitter::feed(Bytes bytes) {
    std::size_t runStart = NO_RUN;  // start of binary bytes passed on in one piece
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes[i];
        if (!binaryPiece_) {
            if (isTextByte(b) && pendingLength_ < pending_.size()) {
                pending_[pendingLength_++] = b;
                if (b == LF) {
                    const Bytes piece(pending_.data(), pendingLength_);
                    if (isLine(pendingLength_)) {
                        inBinary_ = false;
                        sink_.line(piece);
                    } else {
                        sink_.rawBytes(piece);
                    }
                    pendingLength_ = 0;
                }
                continue;
            }
            // A binary byte, or a piece longer than any line: the whole piece is
            // raw data up to the next LF.
            flushPendingAsRaw();
            binaryPiece_ = true;
            inBinary_ = true;
        }
        if (runStart == NO_RUN) runStart = i;
        if (b == LF) {
            sink_.rawBytes(bytes.subspan(runStart, i + 1 - runStart));
            runStart = NO_RUN;
            binaryPiece_ = false;
        }
    }
    if (runStart != NO_RUN) sink_.rawBytes(bytes.subspan(runStart));
}

void LineSplitter::finish() {
    flushPendingAsRaw();
    binaryPiece_ = false;
    inBinary_ = false;
}

bool LineSplitter::isLine(std::size_t length) const {
    std::size_t body = length - 1;  // without the LF
    if (body > 0 && pending_[body - 1] == CR) --body;
    if (body == 0) return false;
    return !inBinary_ || (beginsRelayLine(pending_[0]) && length >= MIN_RESYNC_LINE);
}

void LineSplitter::flushPendingAsRaw() {
    if (pendingLength_ > 0) sink_.rawBytes(Bytes(pending_.data(), pendingLength_));
    pendingLength_ = 0;
}

}  // namespace velgor::sink
