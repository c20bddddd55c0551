// The console's event loop as the program runs it: ticks on time and nothing in
// between, a task handed over from another thread, the end on a quit signal.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "shell/platform/poll_relay_host.h"
#include "shell/platform/quit_signal_pipe.h"

namespace velgor::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

rusage threadUsage() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage;
}

std::chrono::microseconds cpuTime(const rusage& u) {
    return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

TEST(ConsoleEventLoop, TicksIdleUntilAHandedOverTaskRaisesTheQuitSignal) {
    constexpr std::size_t TICKS = 6;
    PollRelayHost host;
    QuitSignalPipe quit;
    ASSERT_NE(quit.readFd(), -1);

    std::vector<Clock::time_point> ticks;
    std::thread asker;
    bool handedOver = false;
    std::size_t ticksAtQuit = 0;
    host.addTickDuty([&] {
        ticks.push_back(Clock::now());
        if (ticks.size() != TICKS) return;
        // The last tick asks another thread to end the loop through the main thread.
        asker = std::thread([&] {
            handedOver = host.runOnMainThread([&] {
                ticksAtQuit = ticks.size();
                std::raise(SIGTERM);
            });
        });
    });
    host.setTicking(true);
    const auto start = Clock::now();
    const rusage before = threadUsage();
    host.run(quit.readFd(), [&] { return quit.takeQuit(); });
    const rusage after = threadUsage();
    asker.join();

    EXPECT_TRUE(handedOver);
    ASSERT_GE(ticks.size(), TICKS);
    EXPECT_EQ(ticks.size(), ticksAtQuit) << "no tick after the quit";
    // Never before its time: poll's timeout is rounded up.
    const auto count = static_cast<int>(ticks.size());
    for (int i = 0; i < count; ++i) {
        EXPECT_GE(ticks[static_cast<std::size_t>(i)] - start, (i + 1) * PollRelayHost::TICK - 1ms);
    }
    EXPECT_LT(ticks.back() - start, count * PollRelayHost::TICK + 500ms);
    // Idle, the loop sleeps in poll until the next tick: about one wake-up per
    // tick (plus the hand-over), and next to no processor time.
    EXPECT_LE(after.ru_nvcsw - before.ru_nvcsw, 2 * count + 4);
    EXPECT_LT(cpuTime(after) - cpuTime(before), 150ms);
}

}  // namespace
}  // namespace velgor::test
