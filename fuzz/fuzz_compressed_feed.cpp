// Fuzzes the compressed consumer feed end to end: a sequence of lines, raw
// blocks and ticks goes through the ConsumerSender (batching, zlib's deflate,
// DLE framing) and the consumer link's outgoing
// queue onto a fake socket that takes sends whole, in part or not at all. An
// independent reader then takes the wire apart (un-doubling, length fields,
// inflate): the bytes out must be the bytes in, in order, none sent twice.
//
// The batch is scaled down (the sender's append limit, 128 to 1024 bytes or 4400; the
// largest block in one piece and the largest frame payload follow it as the wire's
// do), so that a batch that overflows or needs two frames takes a few hundred
// bytes, not 64 KB, and a run stays short.
//
// Input: a 3-byte header, then operations.
//   0     compressTicks: the byte mod 24, minus 3 (so -3 .. 20)
//   1     schedule seed (partial and refused sends)
//   2     low 4 bits: chance of a short or refused send, in sixteenths; high 4 bits
//         h: the append limit, 128 + 64 h, or 4400 for h = 15 (a frame
//         length of 0x10xx then puts a DLE in the length field's high byte)
//
// The sender compresses with zlib's deflate at its defaults on one stream reset
// for each batch: the bytes of zlib's `compress` (the start checks that against
// `compress` as the program attaches it at run time) without setting up and
// tearing down a stream each time, which would cost more than the rest of a run.
// Operations, by the low 2 bits of their first byte b:
//   0     a block: a length byte, then that many bytes as they are
//   1     (b >> 2) ticks of the batch clock
//   2     a made block of n bytes, n the next byte, or of n * 8 bytes (up to 2040,
//         more than a batch) when b >> 2 is 63; pseudo-random bytes (which do not
//         compress) when n is odd, else a repeated pattern
//   3     a line: a length byte, that many bytes, and CR LF after them

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/relay_settings.h"
#include "feed/consumer_outbox.h"
#include "feed/consumer_sender.h"
#include "feed/zlib_binding.h"
#include "frame_stream_reader.h"
#include "fuzz_check.h"
#include "log/message_log.h"
#include "split_schedule.h"
#include "sys/consumer_lock.h"
#include "sys/socket_ops.h"

namespace {

using velgor::fuzz::SplitSchedule;

constexpr int FAKE_SOCKET = 7;
constexpr std::size_t HEADER_BYTES = 3;
// Keep one run short: each frame's deflate (its stream reset and code trees) costs
// more than the rest of a small run, so a run takes no more operations once two
// frames have gone out (an overflow, or a batch cut in two), or once it has sent
// about four of the largest batches.
constexpr std::size_t INPUT_BUDGET = 8192;
constexpr std::uint64_t FRAME_BUDGET = 2;
constexpr std::uint8_t LARGE_MADE_BLOCK = 63;
constexpr std::size_t LARGE_BLOCK_STEP = 8;
constexpr int APPEND_LIMIT_BASE = 128;
constexpr int APPEND_LIMIT_STEP = 64;
constexpr int APPEND_LIMIT_LARGE = 4400;
// The fake never refuses that often in a row, so that draining the queue ends.
constexpr int FAILURES_IN_A_ROW_MAX = 15;

// A socket that takes what it is given in pieces, sometimes refuses, and keeps all
// it took. It counts the sends that did not take everything.
class PatchySocketOps : public velgor::SocketOps {
  public:
    PatchySocketOps(SplitSchedule& schedule, unsigned faultChance)
        : schedule_(schedule), faultChance_(faultChance) {}

    long send(int socket, const void* data, std::size_t length) override {
        FUZZ_CHECK(socket == FAKE_SOCKET, "send on another socket");
        const auto* bytes = static_cast<const char*>(data);
        if (length > 0 && inARow_ < FAILURES_IN_A_ROW_MAX && schedule_.chance(faultChance_)) {
            ++inARow_;
            ++incomplete;
            if (schedule_.chance(4)) return -1;
            const std::size_t part = schedule_.next() % length;  // 0 .. length - 1
            wire.append(bytes, part);
            return static_cast<long>(part);
        }
        inARow_ = 0;
        wire.append(bytes, length);
        return static_cast<long>(length);
    }
    long recv(int, void*, std::size_t) override { return -1; }
    void pause(std::chrono::milliseconds) override {}
    long unsentBytes(int) override { return 0; }

    std::string wire;
    int incomplete = 0;

  private:
    SplitSchedule& schedule_;
    unsigned faultChance_;
    int inARow_ = 0;
};

const velgor::ZlibBinding& zlib() {
    static const velgor::ZlibBinding binding;
    return binding;
}

// zlib's `compress` (default level, window and memory), but on one stream reset
// for each batch instead of one set up and torn down each time.
int compressOnSharedStream(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                           unsigned long sourceLen) {
    static z_stream stream{};
    static const bool ready = deflateInit(&stream, Z_DEFAULT_COMPRESSION) == Z_OK;
    if (!ready || deflateReset(&stream) != Z_OK) return Z_STREAM_ERROR;
    stream.next_in = const_cast<unsigned char*>(source);
    stream.avail_in = static_cast<uInt>(sourceLen);
    stream.next_out = dest;
    stream.avail_out = static_cast<uInt>(*destLen);
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return Z_BUF_ERROR;
    *destLen = stream.total_out;
    return Z_OK;
}

// The send lock in a scratch directory of its own (removed at exit): taking it
// free of contention costs no system call, so runs are not spent on it.
std::string& lockDirectory() {
    static std::string dir;
    return dir;
}

void removeLockDirectory() {
    std::filesystem::remove_all(lockDirectory());
}

velgor::ConsumerLock& sendLock() {
    static velgor::ConsumerLock lock{lockDirectory()};
    return lock;
}

// The shared stream must give the bytes of `compress` as attached, for a few kinds
// of batch: empty, short, a line, long and repetitive, long and random.
bool sharedStreamMatchesAttached() {
    std::string random(70000, '\0');
    SplitSchedule filler(7);
    for (char& c : random) c = static_cast<char>(filler.next() >> 11);
    const std::string batches[] = {"", "a", "*8D4840D6202CC371C32CE0576098;\r\n",
                                   std::string(60000, 'x'), random.substr(0, 65534)};
    std::vector<unsigned char> mine(velgor::COMPRESS_CAPACITY);
    std::vector<unsigned char> theirs(velgor::COMPRESS_CAPACITY);
    for (const std::string& batch : batches) {
        unsigned long mineLength = mine.size();
        unsigned long theirLength = theirs.size();
        const auto* source = reinterpret_cast<const unsigned char*>(batch.data());
        if (compressOnSharedStream(mine.data(), &mineLength, source, batch.size()) != Z_OK ||
            zlib().compress()(theirs.data(), &theirLength, source, batch.size()) != Z_OK ||
            mineLength != theirLength || std::memcmp(mine.data(), theirs.data(), mineLength) != 0) {
            return false;
        }
    }
    return true;
}

// Lives on the stack of one run: a fresh heap block of this size (about 250 KiB)
// per run would cost the sanitizer's allocator new zeroed pages each time.
class Feed {
  public:
    Feed(const velgor::RelaySettings& settings, velgor::CompressFn compress, PatchySocketOps& ops,
         int appendLimit)
        : ops_(ops),
          outbox_(ops, sendLock(), velgor::CONSUMER_OUTBOX_BOUND * 4),
          sender_(settings, compress, log_, outbox_, appendLimit),
          appendLimit_(appendLimit) {
        outbox_.open(FAKE_SOCKET);
    }

    void send(const char* bytes, std::size_t count) {
        sender_.sendToConsumer(FAKE_SOCKET, bytes, static_cast<int>(count));
        FUZZ_CHECK(sender_.batchLength() >= 0 && sender_.batchLength() <= appendLimit_ + 1,
                   "batch length out of range");
        sent.append(bytes, count);
        drain();
    }
    void tick() {
        sender_.advanceBatchClock();
        sender_.flushIfDue(FAKE_SOCKET);
        drain();
    }
    std::int32_t batchTicks() const { return sender_.batchTicks(); }
    std::uint64_t framesSent() const { return sender_.framesSent(); }

    std::string sent;

  private:
    // As the socket watcher would: push again while bytes wait.
    void drain() {
        const int before = ops_.incomplete;
        int pushes = 0;
        for (;;) {
            const velgor::ConsumerOutbox::Push result = outbox_.push();
            FUZZ_CHECK(result != velgor::ConsumerOutbox::Push::Lost, "a passing refusal lost");
            if (result == velgor::ConsumerOutbox::Push::Empty) break;
            ++pushes;
        }
        FUZZ_CHECK(pushes == ops_.incomplete - before, "a push that took everything kept bytes");
    }

    velgor::MessageLog log_;
    PatchySocketOps& ops_;
    velgor::ConsumerOutbox outbox_;
    velgor::ConsumerSender sender_;
    int appendLimit_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!zlib().ok()) {
        std::fprintf(stderr, "cannot attach %s\n", zlib().fileName().c_str());
        std::abort();
    }
    FUZZ_CHECK(sharedStreamMatchesAttached(), "the shared deflate stream differs from compress");
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velgor-fuzz-lock-XXXXXX").string();
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "cannot make the lock's directory");
    lockDirectory() = pattern;
    std::atexit(removeLockDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < HEADER_BYTES) return 0;
    velgor::RelaySettings settings;
    settings.compressEnabled = 1;
    settings.compressTicks = static_cast<std::int32_t>(data[0] % 24) - 3;
    SplitSchedule schedule(data[1]);
    PatchySocketOps ops(schedule, data[2] & 15u);
    const int h = data[2] >> 4;
    Feed feed(settings, compressOnSharedStream, ops,
              h < 15 ? APPEND_LIMIT_BASE + APPEND_LIMIT_STEP * h : APPEND_LIMIT_LARGE);

    std::string block;
    std::size_t pos = HEADER_BYTES;
    auto byteAt = [&](std::size_t i) -> std::uint8_t { return i < size ? data[i] : 0; };
    while (pos < size && feed.sent.size() < INPUT_BUDGET && feed.framesSent() < FRAME_BUDGET) {
        const std::uint8_t op = data[pos++];
        switch (op & 3) {
            case 0:
            case 3: {
                const std::size_t wanted = byteAt(pos++);
                const std::size_t length = pos < size && wanted <= size - pos ? wanted
                                           : pos < size                       ? size - pos
                                                                              : 0;
                block.assign(reinterpret_cast<const char*>(data + (pos < size ? pos : size)),
                             length);
                pos += length;
                if ((op & 3) == 3) block += "\r\n";
                feed.send(block.data(), block.size());
                break;
            }
            case 1:
                for (int i = 0; i < (op >> 2); ++i) feed.tick();
                break;
            case 2: {
                const std::uint8_t n = byteAt(pos++);
                const std::size_t length =
                    (op >> 2) == LARGE_MADE_BLOCK ? std::size_t{n} * LARGE_BLOCK_STEP : n;
                block.resize(length);
                SplitSchedule filler(n + 1u + op * 256u);
                for (std::size_t i = 0; i < length; ++i) {
                    block[i] = static_cast<char>((n & 1) != 0 ? filler.next() >> 11 : i % 61);
                }
                feed.send(block.data(), block.size());
                break;
            }
        }
    }

    // Whatever is still batched goes out with the tick that makes the batch due.
    while (feed.batchTicks() <= settings.compressTicks) feed.tick();
    feed.tick();

    const velgor::fuzz::FrameStream stream = velgor::fuzz::readFrameStream(
        reinterpret_cast<const unsigned char*>(ops.wire.data()), ops.wire.size());
    FUZZ_CHECK(stream.error.empty(), stream.error.c_str());
    FUZZ_CHECK(stream.content.size() == feed.sent.size(), "bytes lost or added on the way");
    FUZZ_CHECK(stream.content == feed.sent, "bytes changed on the way");
    return 0;
}
