#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "e2e/loopback_socket.h"
#include "e2e/stream_player.h"

namespace velgor::e2e {

// How the reader takes what arrives.
enum class ReadAs {
    // The relay's feed: four handshake lines, then lines or compressed frames,
    // read with the reference consumer's own reading code. Every line is checked
    // against the expected lines.
    Feed,
    // Bytes that must equal what was played (a byte relay): checked byte for byte.
    Bytes,
    // Text lines; lines beginning '#' (a handshake) are skipped, nothing is checked.
    Lines,
};

// How a unit read is matched with its write, for latency.
enum class UnitId {
    Serial,   // the 48-bit timestamp of an '@' line or binary record is the index + 1
    Ordinal,  // the n-th unit read is the n-th written
};

struct ReaderSetup {
    ReadAs readAs = ReadAs::Feed;
    std::string_view expected;        // Feed: expected lines of one pass; Bytes: one pass played
    std::uint64_t expectedUnits = 0;  // stop when this many have arrived (0: no such stop)
    std::uint64_t expectedBytes = 0;  // Bytes: stop when this many have arrived
    std::size_t unitsPerPass = 0;     // Bytes: to count units from bytes
    // After the player has finished, stop when nothing has arrived for this long.
    std::int64_t idleEndNs = 1'000'000'000;
    std::int64_t overallLimitNs = 300'000'000'000;
    // Latency: set both. unitEnds (Bytes only) holds each unit's end offset.
    const WriteStamps* stamps = nullptr;
    UnitId unitId = UnitId::Ordinal;
    std::vector<std::uint64_t> unitEnds;
    // Keep (read time, units so far) for every read that brought units.
    bool keepCheckpoints = false;
};

struct ReaderResult {
    std::uint64_t units = 0;
    std::uint64_t bytes = 0;
    std::int64_t firstNs = 0;               // first data byte
    std::int64_t lastNs = 0;                // last data byte
    bool verified = true;                   // everything read matched (Feed, Bytes)
    std::string problem;                    // the first mismatch or failure
    std::vector<std::int64_t> latenciesNs;  // one per unit matched with its write
    std::uint64_t unmatched = 0;            // units read that no write stamp fits
    struct Checkpoint {
        std::int64_t readNs;
        std::uint64_t units;
    };
    std::vector<Checkpoint> checkpoints;
};

// Reads one connection on its own thread until the expected amount arrived, the
// peer closed it, or it fell idle after the player finished.
class StreamReader {
  public:
    explicit StreamReader(ReaderSetup setup) : setup_(std::move(setup)) {}
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    void start(UniqueFd socket);
    // Feed only: true once the four handshake lines have arrived.
    bool handshakeSeen() const { return handshake_.load(); }
    void playerFinished() { playerDone_.store(true); }
    // Units counted so far (any thread).
    std::uint64_t unitsSoFar() const { return unitsSoFar_.load(); }
    ReaderResult finish();

  private:
    void run();

    ReaderSetup setup_;
    UniqueFd socket_;
    std::thread thread_;
    std::atomic<bool> handshake_{false};
    std::atomic<bool> playerDone_{false};
    std::atomic<std::uint64_t> unitsSoFar_{0};
    ReaderResult result_;
};

}  // namespace velgor::e2e
