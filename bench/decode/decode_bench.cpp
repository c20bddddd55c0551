// Throughput of the source decoder on a real receiver stream, with every line
// formatted, handed to the receive-time display and stored in the message log
// (consumer down: forwarding does nothing).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "decode/receive_time_display.h"
#include "decode/source_decoder.h"
#include "log/message_log.h"
#include "support/receiver.h"

namespace velgor {
namespace {

constexpr std::size_t SOURCE_READ_BYTES = 65535;  // one receive on the source socket
constexpr std::size_t STREAM_BYTES = 8 << 20;     // the recorded stream, repeated

struct Streams {
    std::string binary;
    std::string raw;  // '@' lines
    std::string sbs;  // MSG lines
};

std::string repeated(const std::string& pass) {
    std::string out;
    if (pass.empty()) return out;
    out.reserve(STREAM_BYTES + pass.size());
    while (out.size() < STREAM_BYTES) out += pass;
    return out;
}

// One replay of the radio capture through the real receiver, recorded once.
const Streams& streams() {
    static const Streams recorded = [] {
        test::ReceiverRun run = test::captureReceiverRun();
        if (!run.complete) {
            std::fprintf(stderr, "cannot record the receiver's streams: %s\n", run.error.c_str());
            std::exit(1);
        }
        return Streams{repeated(run.binary), repeated(run.raw), repeated(run.sbs)};
    }();
    return recorded;
}

class DisplayOutlet : public LineOutlet {
  public:
    explicit DisplayOutlet(ReceiveTimeDisplay& display) : display_(display) {}
    void forwardLine(const char*, std::size_t) override {}
    void showLine(const char* line, std::size_t length) override {
        display_.displayReceivedLine(line, length);
    }
    void lineFinished() override { ++lines; }
    std::uint64_t lines = 0;

  private:
    ReceiveTimeDisplay& display_;
};

void decodeStream(benchmark::State& state, const std::string& stream, int binaryMode,
                  int relativeTime) {
    RelaySettings settings;
    settings.binaryMode = binaryMode;
    MessageLog log;
    ReceiveTimeDisplay display(settings, log);
    display.setRelativeTimeMode(relativeTime);
    DisplayOutlet outlet(display);
    SourceDecoder decoder(settings, outlet);
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += SOURCE_READ_BYTES) {
            const std::size_t n = std::min(SOURCE_READ_BYTES, stream.size() - at);
            decoder.decodeSourceBlock(bytes + at, static_cast<int>(n));
        }
        log.logMessage(nullptr, LOG_SHOW_NEWEST);  // one tick's display step
        benchmark::DoNotOptimize(log.newestSlot());
    }
    const auto bytesDecoded =
        static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(stream.size());
    state.SetBytesProcessed(bytesDecoded);
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(outlet.lines), benchmark::Counter::kIsRate);
    state.counters["bytes/line"] =
        static_cast<double>(bytesDecoded) / static_cast<double>(outlet.lines);
}

void BM_DecodeBinary(benchmark::State& state) {
    decodeStream(state, streams().binary, 1, 0);
}
void BM_DecodeBinaryRelativeTime(benchmark::State& state) {
    decodeStream(state, streams().binary, 1, 1);
}
void BM_DecodeTextAtLines(benchmark::State& state) {
    decodeStream(state, streams().raw, 0, 0);
}
void BM_DecodeTextMsgLines(benchmark::State& state) {
    decodeStream(state, streams().sbs, 0, 0);
}

BENCHMARK(BM_DecodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBinaryRelativeTime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTextAtLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTextMsgLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velgor

BENCHMARK_MAIN();
