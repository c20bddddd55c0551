#include "feed/consumer_sender.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "feed/consumer_commands.h"

namespace velgor {
namespace {

constexpr const char* MESSAGE_COMPRESS = "Compress";
constexpr const char* MESSAGE_COMPRESS_ERROR = "Error Compress";

static_assert(BATCH_APPEND_LIMIT + 1 == CONSUMER_BLOCK_MAX);
static_assert(FRAME_PAYLOAD_MAX == BATCH_APPEND_LIMIT - 3);
constexpr int APPEND_LIMIT_MIN = 16;
static_assert(static_cast<std::size_t>(CONSUMER_BLOCK_MAX) <= BATCH_CAPACITY);
static_assert(frameCapacityFor(FRAME_PAYLOAD_MAX) <= SENDER_OUTPUT_CAPACITY);

// Where to cut a block that must go out in two frames: just after the line end
// nearest to its middle, so that lines stay whole; in the middle when no line end
// leaves bytes on both sides. The cut is in 1..length-1 for length >= 2.
std::size_t splitPointOf(const unsigned char* bytes, std::size_t length) {
    // A cut at c (1..length-1) falls on a line end when bytes[c - 1] is LF.
    const std::size_t middle = length / 2;
    for (std::size_t distance = 0;; ++distance) {
        const bool belowFits = middle > distance;
        const bool aboveFits = middle + distance + 1 < length;
        if (!belowFits && !aboveFits) return middle;
        if (belowFits && bytes[middle - distance - 1] == '\n') return middle - distance;
        if (aboveFits && bytes[middle + distance] == '\n') return middle + distance + 1;
    }
}

}  // namespace

bool isCompressionNote(std::string_view text) {
    if (text == MESSAGE_COMPRESS) return true;
    // "%d -> %d": two lengths, nothing else.
    const std::size_t arrow = text.find(" -> ");
    if (arrow == std::string_view::npos || arrow == 0 || arrow + 4 == text.size()) return false;
    const auto digits = [](std::string_view part) {
        return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return digits(text.substr(0, arrow)) && digits(text.substr(arrow + 4));
}

ConsumerSender::ConsumerSender(const RelaySettings& settings, CompressFn compress, MessageLog& log,
                               ConsumerOutlet& outlet, int appendLimit)
    : settings_(settings),
      compress_(compress),
      log_(log),
      outlet_(outlet),
      appendLimit_(std::clamp(appendLimit, APPEND_LIMIT_MIN, BATCH_APPEND_LIMIT)),
      blockMax_(appendLimit_ + 1),
      framePayloadMax_(static_cast<std::size_t>(appendLimit_) - 3) {}

void ConsumerSender::sendToConsumer(int socket, const char* bytes, int count) {
    if (count < 0 || (count > 0 && bytes == nullptr)) return;
    if (settings_.compressEnabled == 0) {
        if (count > 0) outlet_.deliver(socket, bytes, static_cast<std::size_t>(count));
        return;
    }
    int offset = 0;
    do {
        const int piece = std::min(count - offset, blockMax_);
        batchAndFlush(socket, bytes + offset, piece);
        offset += piece;
    } while (offset < count);
}

void ConsumerSender::flushIfDue(int socket) {
    if (settings_.compressEnabled == 0 || batchLength_ == 0) return;
    if (batchTicks_ <= settings_.compressTicks) return;
    flushBatch(socket, FlushKind::Timed);
    restartBatch(nullptr, 0);
}

void ConsumerSender::flushPending(int socket) {
    if (batchLength_ == 0) return;
    flushBatch(socket, FlushKind::Timed);
    restartBatch(nullptr, 0);
}

bool ConsumerSender::dropPending() {
    if (batchLength_ == 0) return false;
    restartBatch(nullptr, 0);
    return true;
}

void ConsumerSender::batchAndFlush(int socket, const char* bytes, int count) {
    if (batchLength_ + count <= appendLimit_) {
        if (count > 0) {
            std::memcpy(batch_.data() + batchLength_, bytes, static_cast<std::size_t>(count));
        }
        batchLength_ += count;
    } else {
        // The new bytes would overflow the batch: what is there goes out now, and the
        // new bytes begin the next batch.
        flushBatch(socket, FlushKind::Overflow);
        restartBatch(bytes, count);
        log_.logMessage(MESSAGE_COMPRESS, LOG_SHOW);
    }

    if (batchTicks_ <= settings_.compressTicks) return;

    flushBatch(socket, FlushKind::Timed);
    restartBatch(nullptr, 0);
}

void ConsumerSender::flushBatch(int socket, FlushKind kind) {
    // A failure has been shown in the log already; the batch is emptied either way.
    (void)flushRange(socket, 0, static_cast<std::size_t>(batchLength_), kind);
}

// Compresses batch bytes [begin, begin + length), frames them and hands the frame on. When the
// compressed block is too long for one frame, the range is cut in two and each half
// goes out on its own, in order. Only ranges about as long as the largest payload
// can be too long (zlib adds a dozen bytes at most), so the cuts stop after a level
// or two. A compressor failure is shown and the
// rest of the range is dropped; returns false then.
bool ConsumerSender::flushRange(int socket, std::size_t begin, std::size_t length, FlushKind kind) {
    unsigned long compressed = COMPRESS_CAPACITY;
    const bool ok = compress_ != nullptr &&
                    // A range lies within the batch, so its length fits zlib's uLong (32 bits
                    // on Windows).
                    compress_(output_.data(), &compressed, batch_.data() + begin,
                              static_cast<unsigned long>(length)) == COMPRESS_OK &&
                    compressed <= COMPRESS_CAPACITY;
    if (!ok) {
        log_.logMessage(MESSAGE_COMPRESS_ERROR, LOG_SHOW);
        return false;
    }

    std::size_t frameLength = compressed;
    if (frameLength > framePayloadMax_) {
        if (length < 2) {  // cannot be cut further; no real compressor gets here
            log_.logMessage(MESSAGE_COMPRESS_ERROR, LOG_SHOW);
            return false;
        }
        const std::size_t cut = splitPointOf(batch_.data() + begin, length);
        return flushRange(socket, begin, cut, kind) &&
               flushRange(socket, begin + cut, length - cut, kind);
    }

    // An overflow flush reports the compressed length, a timed flush the length on
    // the wire.
    if (kind == FlushKind::Overflow) logLengths(length, frameLength);
    if (!frameBlock(COMPRESSED_BLOCK, output_.data(), frameLength)) {
        log_.logMessage(MESSAGE_COMPRESS_ERROR, LOG_SHOW);  // cannot happen: checked above
        return false;
    }
    if (kind == FlushKind::Timed) logLengths(length, frameLength);

    bytesCompressed_ += length;
    framedBytes_ += frameLength;
    ++framesSent_;
    outlet_.deliver(socket, reinterpret_cast<const char*>(output_.data()), frameLength);
    return true;
}

void ConsumerSender::restartBatch(const char* bytes, int count) {
    batchTicks_ = 0;
    batchLength_ = 0;
    if (count > 0) {
        std::memcpy(batch_.data(), bytes, static_cast<std::size_t>(count));
        batchLength_ = count;
    }
}

void ConsumerSender::logLengths(std::size_t before, std::size_t after) {
    char text[48];
    std::snprintf(text, sizeof text, "%d -> %d", static_cast<int>(before), static_cast<int>(after));
    log_.logMessage(text, LOG_SHOW);
}

void ConsumerSender::handleConsumerCommand(const char* block, int count) {
    switch (consumerCommandOf(block, count)) {
        case ConsumerCommand::RawOutput:
            rawPassThrough_ = 1;
            break;
        case ConsumerCommand::TextOutput:
            rawPassThrough_ = 0;
            break;
        case ConsumerCommand::None:
            break;
    }
}

void ConsumerSender::advanceBatchClock() {
    if (settings_.compressEnabled != 0 && batchTicks_ < std::numeric_limits<std::int32_t>::max()) {
        ++batchTicks_;
    }
}

}  // namespace velgor
