#include "feed/send_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "feed/feed_test_support.h"

namespace velgor {
namespace {

using test::CountingPauseOps;
using test::LoopbackPair;
using test::RecordingOps;

std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 23);
    return bytes;
}

struct LoopCase {
    const char* name;
    int socket;
    std::deque<long> script;  // what the successive sends take (-1: fail)
    int length;
    int attempts;
    int pauses;
    int sendCalls;
    std::size_t delivered;
};

class SendLoopCases : public ::testing::TestWithParam<LoopCase> {};

TEST_P(SendLoopCases, AttemptsPausesAndBytes) {
    const LoopCase& c = GetParam();
    RecordingOps ops;
    ops.script = c.script;
    const std::string data = patterned(static_cast<std::size_t>(c.length));

    EXPECT_EQ(sendWithRetry(ops, c.socket, data.data(), c.length), c.attempts);
    // Every failed or partial attempt but the 16th is followed by a pause of 300 ms.
    EXPECT_EQ(ops.pauses, c.pauses);
    EXPECT_EQ(ops.paused, c.pauses * std::chrono::milliseconds(300));
    EXPECT_EQ(static_cast<int>(ops.sends.size()), c.sendCalls);
    // What went out is the data's beginning, in order, each byte once.
    EXPECT_EQ(ops.wire, data.substr(0, c.delivered));
}

const std::deque<long> failAlways(20, -1);
const std::deque<long> fiveEach(20, 5);

INSTANTIATE_TEST_SUITE_P(
    Script, SendLoopCases,
    ::testing::Values(LoopCase{"AllAtOnce", 7, {}, 100, 0, 0, 1, 100},
                      LoopCase{"PartialThenRest", 7, {40}, 100, 1, 1, 2, 100},
                      LoopCase{"TwoPartials", 7, {10, 30}, 100, 2, 2, 3, 100},
                      LoopCase{"FailuresThenSuccess", 7, {-1, -1, -1}, 100, 3, 3, 4, 100},
                      LoopCase{"NothingTakenCountsAsPartial", 7, {0, 0}, 100, 2, 2, 3, 100},
                      LoopCase{"FailsEveryTime", 7, failAlways, 100, 16, 15, 16, 0},
                      LoopCase{"TooSlowToFinish", 7, fiveEach, 100, 16, 15, 16, 80},
                      LoopCase{"LastChanceSucceeds", 7, std::deque<long>(15, -1), 100, 15, 15, 16,
                               100},
                      LoopCase{"InvalidSocketStopsAfterOne", -1, failAlways, 100, 1, 1, 1, 0},
                      LoopCase{"EmptyRange", 7, {}, 0, 0, 0, 1, 0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(SendLoop, RealSocketWhosePeerStopsReadingGetsSixteenAttempts) {
    LoopbackPair pair;
    pair.stuffSender();
    CountingPauseOps ops;
    const std::string data = patterned(1000);

    EXPECT_EQ(sendWithRetry(ops, pair.sender, data.data(), 1000), 16);
    EXPECT_EQ(ops.pauses, 15);
}

TEST(SendLoop, RealPausesLetASlowPeerCatchUpWithEveryByteInOrder) {
    LoopbackPair pair;
    const std::size_t stuffed = pair.stuffSender();
    const std::string data = patterned(256 * 1024);

    std::string received;
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        received = pair.readPeer(stuffed + data.size(), std::chrono::seconds(10));
    });
    CountingPauseOps ops(true);
    const auto start = std::chrono::steady_clock::now();
    const int attempts =
        sendWithRetry(ops, pair.sender, data.data(), static_cast<int>(data.size()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    peer.join();

    // The first send found the socket full; the peer began reading after 500 ms.
    EXPECT_GE(attempts, 1);
    EXPECT_LT(attempts, 16);
    EXPECT_EQ(ops.pauses, attempts);
    EXPECT_GE(elapsed, attempts * std::chrono::milliseconds(300));
    ASSERT_EQ(received.size(), stuffed + data.size());
    EXPECT_EQ(received.substr(stuffed), data);
}

}  // namespace
}  // namespace velgor
