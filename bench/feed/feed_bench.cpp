// Lines per second through the consumer sender: the compressed path (batching, zlib,
// framing; flushes by overflow and by tick) into an outlet that takes everything, and
// the plain path through the outgoing queue into a real loopback TCP socket drained
// by a reader thread, one push per line.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "feed/consumer_outbox.h"
#include "feed/consumer_sender.h"

namespace velgor {
namespace {

constexpr std::size_t LINE_BYTES = 44;

// 44-byte receiver lines ("@", 12 hex digits of timestamp, 14 message bytes in hex,
// ";", CR LF) from a few dozen aircraft, with rising timestamps, so that they
// compress about as well as real traffic.
std::vector<std::array<char, LINE_BYTES>> receiverLines(std::size_t count) {
    std::mt19937 random(1090);
    std::vector<std::uint32_t> aircraft(40);
    for (auto& icao : aircraft) icao = random() & 0xFFFFFF;
    std::vector<std::array<char, LINE_BYTES>> lines(count);
    unsigned long long timestamp = 0x1A2B3C4D5E;
    for (auto& line : lines) {
        timestamp += random() % 40000;
        const std::uint32_t icao = aircraft[random() % aircraft.size()];
        char text[LINE_BYTES + 1];
        std::snprintf(text, sizeof text, "@%012llX8D%06X%08X%04X%06X;\r\n",
                      timestamp & 0xFFFFFFFFFFFFull, icao, static_cast<unsigned>(random()),
                      static_cast<unsigned>(random() & 0xFFFF),
                      static_cast<unsigned>(random() & 0xFFFFFF));
        std::copy(text, text + LINE_BYTES, line.begin());
    }
    return lines;
}

// Takes every byte at once and counts them.
class SinkOutlet : public ConsumerOutlet {
  public:
    void deliver(int, const char*, std::size_t count) override { bytes += count; }
    std::size_t bytes = 0;
};

class FlushCounter : public PaneObserver {
  public:
    void logLineShown(std::string_view text) override {
        if (text == "Compress") {
            ++overflowFlushes;
        } else if (text.find(" -> ") != std::string_view::npos) {
            ++framesReported;
        }
    }
    void statusLinesChanged() override {}
    std::size_t overflowFlushes = 0;
    std::size_t framesReported = 0;
};

int zlibCompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                 unsigned long sourceLen) {
    return ::compress(dest, destLen, source, sourceLen);
}

// One iteration is one line. The 100 ms tick comes after a number of lines that
// follows state.range(0) lines per tick in quiet spells and a burst of 3000 lines
// in every seventh tick when state.range(1) is 1, so that batches end both ways.
void BM_CompressedFeed(benchmark::State& state) {
    const auto lines = receiverLines(1 << 16);
    const int quietLines = static_cast<int>(state.range(0));
    const bool bursts = state.range(1) != 0;

    RelaySettings settings;
    settings.compressEnabled = 1;
    settings.compressTicks = 5;
    MessageLog log;
    FlushCounter counter;
    log.setObserver(&counter);
    SinkOutlet ops;
    auto sender = std::make_unique<ConsumerSender>(settings, &zlibCompress, log, ops);

    std::size_t next = 0;
    int lineInTick = 0;
    int tick = 0;
    for (auto _ : state) {
        const auto& line = lines[next];
        next = (next + 1) & (lines.size() - 1);
        sender->sendToConsumer(3, line.data(), static_cast<int>(LINE_BYTES));
        const int tickLines = bursts && tick % 7 == 6 ? 3000 : quietLines;
        if (++lineInTick >= tickLines) {
            lineInTick = 0;
            ++tick;
            sender->advanceBatchClock();
        }
    }
    const auto given =
        static_cast<double>(state.iterations() * static_cast<std::int64_t>(LINE_BYTES));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(given));
    state.counters["overflow_flushes"] = static_cast<double>(counter.overflowFlushes);
    state.counters["timed_flushes"] =
        static_cast<double>(counter.framesReported - counter.overflowFlushes);
    state.counters["wire_per_given"] = static_cast<double>(ops.bytes) / given;
}
BENCHMARK(BM_CompressedFeed)
    ->ArgNames({"lines_per_tick", "bursts"})
    ->Args({20, 0})    // timed flushes only (120 lines a batch)
    ->Args({1000, 0})  // overflow flushes only (1489 lines fill a batch)
    ->Args({20, 1});   // both

// A connected loopback pair; the peer end is drained by a thread until closed.
class DrainedLoopback {
  public:
    DrainedLoopback() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        sender = ::socket(AF_INET, SOCK_STREAM, 0);
        ok = ::connect(sender, reinterpret_cast<sockaddr*>(&address), size) == 0;
        peer_ = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        reader_ = std::thread([this] {
            char buffer[65536];
            while (::recv(peer_, buffer, sizeof buffer, 0) > 0) received += 1;
        });
    }
    ~DrainedLoopback() {
        ::shutdown(sender, SHUT_RDWR);
        ::close(sender);
        reader_.join();
        ::close(peer_);
    }
    DrainedLoopback(const DrainedLoopback&) = delete;
    DrainedLoopback& operator=(const DrainedLoopback&) = delete;

    int sender = -1;
    bool ok = false;
    std::atomic<long> received{0};

  private:
    int peer_ = -1;
    std::thread reader_;
};

void BM_UncompressedLoopback(benchmark::State& state) {
    const auto lines = receiverLines(1 << 12);
    RelaySettings settings;
    settings.compressEnabled = 0;
    MessageLog log;
    DrainedLoopback link;
    if (!link.ok) {
        state.SkipWithError("no loopback connection");
        return;
    }
    ConsumerLock unusedLock("/nonexistent/velgor-bench");  // sends go unlocked
    ConsumerOutbox outbox(systemSocketOps(), unusedLock);
    outbox.open(link.sender);
    auto sender = std::make_unique<ConsumerSender>(settings, &zlibCompress, log, outbox);
    std::size_t next = 0;
    int failedAttempts = 0;
    for (auto _ : state) {
        const auto& line = lines[next];
        next = (next + 1) & (lines.size() - 1);
        sender->sendToConsumer(link.sender, line.data(), static_cast<int>(LINE_BYTES));
        if (outbox.push() != ConsumerOutbox::Push::Empty) ++failedAttempts;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * static_cast<std::int64_t>(LINE_BYTES)));
    state.counters["failed_attempts"] = failedAttempts;
}
BENCHMARK(BM_UncompressedLoopback);

}  // namespace
}  // namespace velgor

BENCHMARK_MAIN();
