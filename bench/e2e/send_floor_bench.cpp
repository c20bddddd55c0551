// The physical floor of the relay's uncompressed feed: what one line costs at
// the least (a send() of 44 bytes on a TCP_NODELAY loopback connection, and one
// consumer lock acquire + release around it), each part alone and together; and
// the file lock (flock) the consumer lock used to be.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "e2e/send_floor.h"
#include "sys/consumer_lock.h"
#include "sys/unique_fd.h"

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

// The advisory file lock the consumer lock used to be, for comparison.
void flockPairOnly(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.path() + "/flock";
    UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ::unlink(path.c_str());  // the open descriptor is all it needs
    if (!file.valid()) return state.SkipWithError("no lock file");
    for (auto _ : state) {
        benchmark::DoNotOptimize(::flock(file.get(), LOCK_EX | LOCK_NB));
        benchmark::DoNotOptimize(::flock(file.get(), LOCK_UN));
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
BENCHMARK(flockPairOnly);
BENCHMARK(sendWithLock);

}  // namespace
}  // namespace velgor::e2e

BENCHMARK_MAIN();
