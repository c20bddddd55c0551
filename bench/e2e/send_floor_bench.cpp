// The physical floor of the relay's uncompressed feed: what one line costs at
// the least (a send() of 44 bytes on a TCP_NODELAY loopback connection, and one
// consumer lock acquire + release around it), each part alone and together.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "e2e/send_floor.h"
#include "sys/consumer_lock.h"

namespace velgor::e2e {
namespace {

constexpr std::size_t LINE_BYTES = sizeof FLOOR_LINE - 1;

class ScratchDir {
  public:
    ScratchDir() {
        char name[] = "/tmp/velgor-floor.XXXXXX";
        if (::mkdtemp(name) != nullptr) path_ = name;
    }
    ~ScratchDir() {
        if (path_.empty()) return;
        ::unlink((path_ + "/" + CONSUMER_LOCK_NAME).c_str());
        ::rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void sendOnly(benchmark::State& state) {
    DrainedLoopback link;
    if (!link.ready()) return state.SkipWithError("no loopback connection");
    for (auto _ : state) {
        benchmark::DoNotOptimize(::send(link.sendFd(), FLOOR_LINE, LINE_BYTES, MSG_NOSIGNAL));
    }
    state.SetItemsProcessed(state.iterations());
}

void lockPairOnly(benchmark::State& state) {
    ScratchDir dir;
    ConsumerLock lock(dir.path());
    if (!lock.usable()) return state.SkipWithError("no lock file");
    for (auto _ : state) {
        ConsumerLockHold hold(lock);
        benchmark::DoNotOptimize(hold.taken());
    }
    state.SetItemsProcessed(state.iterations());
}

void sendWithLock(benchmark::State& state) {
    ScratchDir dir;
    DrainedLoopback link;
    ConsumerLock lock(dir.path());
    if (!link.ready() || !lock.usable()) return state.SkipWithError("no connection or lock");
    for (auto _ : state) {
        ConsumerLockHold hold(lock);
        benchmark::DoNotOptimize(::send(link.sendFd(), FLOOR_LINE, LINE_BYTES, MSG_NOSIGNAL));
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(sendOnly);
BENCHMARK(lockPairOnly);
BENCHMARK(sendWithLock);

}  // namespace
}  // namespace velgor::e2e

BENCHMARK_MAIN();
