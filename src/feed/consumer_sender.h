#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/relay_settings.h"
#include "feed/compress_fn.h"
#include "feed/consumer_outlet.h"
#include "feed/frame_block.h"
#include "log/message_log.h"

namespace velgor {

// The compression batch: bytes waiting for the next flush.
inline constexpr std::size_t BATCH_CAPACITY = 65536;
// Appending stops here: bytes that would make the batch longer flush it first.
inline constexpr int BATCH_APPEND_LIMIT = 65534;
// The largest block one call takes in one piece (a whole socket read); larger
// blocks are taken in pieces of this size, one after another.
inline constexpr int CONSUMER_BLOCK_MAX = 65535;

// Room the compressor is given: enough for any batch, so that a block too large for
// a frame shows as a length, never as a compressor failure.
inline constexpr std::size_t COMPRESS_CAPACITY = compressedSizeBound(BATCH_CAPACITY);
// The output area holds the compressed block and then, in place, its frame.
inline constexpr std::size_t SENDER_OUTPUT_CAPACITY =
    COMPRESS_CAPACITY > FRAME_BYTES_MAX ? COMPRESS_CAPACITY : FRAME_BYTES_MAX;

// Whether a shown message is one of compression's routine notes (a batch that
// filled up, "before -> after" of each compressed frame) rather than an error.
// Where every message is kept (the journal) the notes would come several times
// a second; the traffic summary carries their figures instead.
[[nodiscard]] bool isCompressionNote(std::string_view text);

// Everything the relay sends to the consumer after the handshake. With compression
// off each block goes to the outlet at once. With compression on, blocks are
// collected in a batch that is compressed, framed and handed on by the first call or
// tick after more than `compressTicks` ticks, or earlier when the batch would overflow.
// A batch whose compressed form would not fit one frame goes out as several frames
// in order, split after line ends where there are any. The batch outlives a lost
// link; a switch of the stream mode ends it (flushPending or dropPending), since its
// lines belong to the mode the old connection announced.
//
// Main thread only. All buffers are members: one instance holds about 200 KiB and
// allocates nothing per call.
//
// `appendLimit` scales the batch down for the fuzzer, which reaches the overflow and
// the two-frame paths with batches of a few hundred bytes instead of 64 KB: the
// largest block taken in one piece is then one more than it, and the largest frame
// payload three less, as with the wire's own limits. It is clamped to 16 ..
// BATCH_APPEND_LIMIT; the relay always uses BATCH_APPEND_LIMIT.
class ConsumerSender {
  public:
    ConsumerSender(const RelaySettings& settings, CompressFn compress, MessageLog& log,
                   ConsumerOutlet& outlet, int appendLimit = BATCH_APPEND_LIMIT);
    ConsumerSender(const ConsumerSender&) = delete;
    ConsumerSender& operator=(const ConsumerSender&) = delete;

    // Hands `count` bytes on for `socket`, or batches them.
    void sendToConsumer(int socket, const char* bytes, int count);

    // The tick's flush: a batch that holds bytes and is older than `compressTicks`
    // ticks goes out now, so that a quiet station's lines do not wait for the next
    // line to come. Nothing happens with compression off.
    void flushIfDue(int socket);

    // The stream mode is switching: whatever is batched goes out now, framed, due or
    // not and whatever the settings say by now (only compression fills a batch).
    void flushPending(int socket);
    // The stream mode is switching with no connection to take the batch: it is
    // emptied unsent. Returns whether it held anything.
    bool dropPending();

    // Interprets one received block: exactly "#SET OUT DATE ORIGINAL\r\n" switches
    // raw pass-through on, exactly "#SET OUT DATE TEXT\r\n" switches it off; anything
    // else is ignored.
    void handleConsumerCommand(const char* block, int count);

    // The 100 ms tick's step: counts a tick while compression is on.
    void advanceBatchClock();

    // 1 while the consumer asked for the source bytes as received, else 0.
    std::int32_t rawPassThrough() const { return rawPassThrough_; }
    std::int32_t batchTicks() const { return batchTicks_; }
    std::int32_t batchLength() const { return batchLength_; }
    // Batch bytes compressed so far, and the frame bytes they became.
    std::uint64_t bytesCompressed() const { return bytesCompressed_; }
    std::uint64_t framedBytes() const { return framedBytes_; }
    std::uint64_t framesSent() const { return framesSent_; }

  private:
    enum class FlushKind { Overflow, Timed };

    void batchAndFlush(int socket, const char* bytes, int count);
    void flushBatch(int socket, FlushKind kind);
    [[nodiscard]] bool flushRange(int socket, std::size_t begin, std::size_t length,
                                  FlushKind kind);
    void restartBatch(const char* bytes, int count);
    void logLengths(std::size_t before, std::size_t after);

    const RelaySettings& settings_;
    CompressFn compress_;
    MessageLog& log_;
    ConsumerOutlet& outlet_;

    std::int32_t rawPassThrough_ = 0;
    std::int32_t batchTicks_ = 0;
    std::int32_t batchLength_ = 0;
    std::uint64_t bytesCompressed_ = 0;
    std::uint64_t framedBytes_ = 0;
    std::uint64_t framesSent_ = 0;
    int appendLimit_;
    int blockMax_;
    std::size_t framePayloadMax_;
    std::array<unsigned char, BATCH_CAPACITY> batch_{};
    std::array<unsigned char, SENDER_OUTPUT_CAPACITY> output_{};
};

}  // namespace velgor
