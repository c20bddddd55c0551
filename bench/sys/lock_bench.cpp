// Cost of the lock taken around every line sent to the consumer: one uncontended
// acquire + release pair, on the user's runtime directory and on /tmp.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "sys/consumer_lock.h"

namespace {

void runPairs(benchmark::State& state, velgor::ConsumerLock& lock) {
    if (!lock.usable()) {
        state.SkipWithError("lock file cannot be opened");
        return;
    }
    for (auto _ : state) {
        const bool taken = lock.acquire(velgor::CONSUMER_LOCK_WAIT);
        benchmark::DoNotOptimize(taken);
        lock.release();
    }
}

void BM_AcquireReleaseRuntimeDir(benchmark::State& state) {
    velgor::ConsumerLock lock;  // where the relay keeps it
    state.SetLabel(lock.path());
    runPairs(state, lock);
}
BENCHMARK(BM_AcquireReleaseRuntimeDir);

void BM_AcquireReleaseTmp(benchmark::State& state) {
    std::string dir = (std::filesystem::temp_directory_path() / "lock-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    {
        velgor::ConsumerLock lock(dir);
        state.SetLabel(lock.path());
        runPairs(state, lock);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_AcquireReleaseTmp);

}  // namespace

BENCHMARK_MAIN();
