#include "feed/consumer_outbox.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <string>
#include <vector>

#include "feed/consumer_sender.h"
#include "feed/feed_test_support.h"

namespace velgor {
namespace {

using test::RecordingOps;

constexpr int SOCKET = 9;
const std::string LINE = "@0123456789AB8D4840D6202CC371C32CE0576098;\r\n";

// The outbox over recorded sends; the lock's directory does not exist, so sends
// go without it (the lock's own tests cover it).
struct OutboxRig {
    explicit OutboxRig(std::size_t bound = CONSUMER_OUTBOX_BOUND) : outbox(ops, lock, bound) {
        outbox.open(SOCKET);
    }
    void give(const std::string& bytes) { outbox.deliver(SOCKET, bytes.data(), bytes.size()); }

    RecordingOps ops;
    ConsumerLock lock{"/nonexistent/velgor-test"};
    ConsumerOutbox outbox;
};

// A frame as the compressed feed makes it, with doubled DLE bytes in it.
std::string aFrame() {
    RelaySettings settings;
    settings.compressEnabled = 1;
    settings.compressTicks = -1;  // every call flushes
    MessageLog log;
    test::RecordingOutlet outlet;
    ConsumerSender sender(settings, &::compress, log, outlet);
    const std::string payload = LINE + "\x10\x10\x10" + LINE;
    sender.sendToConsumer(SOCKET, payload.data(), static_cast<int>(payload.size()));
    return outlet.wire;
}

// A send cut short anywhere, in a line or in a frame, goes on with exactly the
// bytes that did not go, the next time the socket has room; the next unit
// follows them whole.
TEST(ConsumerOutbox, ASendCutShortAtAnyByteContinuesWithTheRest) {
    for (const std::string& unit : {LINE, aFrame()}) {
        for (std::size_t cut = 0; cut < unit.size(); ++cut) {
            SCOPED_TRACE(cut);
            OutboxRig rig;
            rig.ops.script = {static_cast<long>(cut), -1};
            rig.give(unit);
            EXPECT_EQ(rig.outbox.push(), ConsumerOutbox::Push::Waiting);
            rig.give(LINE);
            EXPECT_EQ(rig.outbox.push(), ConsumerOutbox::Push::Waiting) << "no room (EAGAIN)";
            EXPECT_EQ(rig.outbox.push(), ConsumerOutbox::Push::Empty);
            ASSERT_EQ(rig.ops.sends.size(), 3u);
            EXPECT_EQ(rig.ops.sends[2], unit.substr(cut) + LINE);
            EXPECT_TRUE(rig.ops.wire == unit + LINE);
        }
    }
}

// Nothing waits: no send and no lock. A connection that has failed for good, or a
// queue past its bound, is reported lost; what waited goes with the connection,
// and the next one starts empty.
TEST(ConsumerOutbox, LostOnAFinalErrorOrPastTheBoundAndEmptyAfterwards) {
    OutboxRig idle;
    EXPECT_EQ(idle.outbox.push(), ConsumerOutbox::Push::Empty);
    EXPECT_TRUE(idle.ops.sends.empty());

    OutboxRig reset;
    reset.ops.script = {-1};
    reset.ops.errorOfFailure = ECONNRESET;
    reset.give(LINE);
    EXPECT_EQ(reset.outbox.push(), ConsumerOutbox::Push::Lost);

    OutboxRig small(3 * LINE.size());
    small.ops.script = {0};
    for (int i = 0; i < 3; ++i) small.give(LINE);
    EXPECT_EQ(small.outbox.push(), ConsumerOutbox::Push::Waiting);
    small.give(LINE);  // one more than the bound holds
    EXPECT_TRUE(small.outbox.overflowed());
    EXPECT_EQ(small.outbox.push(), ConsumerOutbox::Push::Lost);
    EXPECT_EQ(small.ops.sends.size(), 1u);

    small.outbox.open(SOCKET + 1);  // the next connection
    EXPECT_EQ(small.outbox.queued(), 0u);
    EXPECT_FALSE(small.outbox.overflowed());
    small.outbox.deliver(SOCKET, LINE.data(), LINE.size());  // for the old one: dropped
    small.outbox.deliver(SOCKET + 1, "x", 1);
    EXPECT_EQ(small.outbox.push(), ConsumerOutbox::Push::Empty);
    EXPECT_EQ(small.ops.sends.back(), "x");
}

// A burst that waited goes, and its memory with it: the drained queue keeps
// what the next burst is likely to need, no more.
TEST(ConsumerOutbox, ADrainedQueueGivesBackWhatABurstTook) {
    OutboxRig rig;
    rig.ops.script = {0};  // the socket takes nothing at first
    for (std::size_t given = 0; given < CONSUMER_OUTBOX_BOUND - LINE.size(); given += LINE.size()) {
        rig.give(LINE);
    }
    ASSERT_EQ(rig.outbox.push(), ConsumerOutbox::Push::Waiting);
    ASSERT_GT(rig.outbox.capacity(), CONSUMER_OUTBOX_BOUND / 2);
    ASSERT_EQ(rig.outbox.push(), ConsumerOutbox::Push::Empty);
    EXPECT_LE(rig.outbox.capacity(), CONSUMER_KEPT_CAPACITY);
}

// The stall clock counts ticks in which data waits (in the queue or unacknowledged
// in the socket) and the consumer took no byte of it; any byte taken restarts it.
TEST(ConsumerOutbox, StallClockCountsTicksWithoutAByteTakenWhileDataWaits) {
    OutboxRig rig;
    for (int i = 0; i < 100; ++i) ASSERT_FALSE(rig.outbox.stalledAfterTick()) << "nothing waits";

    rig.give(LINE);
    ASSERT_EQ(rig.outbox.push(), ConsumerOutbox::Push::Empty);
    rig.ops.unsent = static_cast<long>(LINE.size());  // all of it still in the socket
    for (int i = 1; i < 30; ++i) ASSERT_FALSE(rig.outbox.stalledAfterTick()) << i;
    rig.ops.unsent -= 1;  // the consumer took one byte: this tick starts the count again
    for (int i = 0; i < CONSUMER_STALL_TICKS; ++i) ASSERT_FALSE(rig.outbox.stalledAfterTick()) << i;
    EXPECT_TRUE(rig.outbox.stalledAfterTick());

    OutboxRig queued;
    queued.ops.script = {-1, -1};
    queued.give(LINE);
    (void)queued.outbox.push();
    for (int i = 1; i < CONSUMER_STALL_TICKS; ++i) ASSERT_FALSE(queued.outbox.stalledAfterTick());
    (void)queued.outbox.push();  // refused again
    EXPECT_TRUE(queued.outbox.stalledAfterTick()) << "a queue the socket never takes";
}

}  // namespace
}  // namespace velgor
