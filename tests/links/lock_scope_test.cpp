// The consumer lock orders the sends of all relays on the machine: it is held
// around every send on the consumer link, and a line that only joins the
// compression batch, which sends nothing, neither takes it nor waits for it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <string>

#include "feed/consumer_sender.h"
#include "links/link_rig.h"
#include "links/socket_event.h"

namespace velgor::test {
namespace {

const std::string HANDSHAKE = "#Kervala\r\n#47.198200\r\n#39.628200\r\n#TEXT\r\n";
const std::string LINE = "*8D4840D6202CC371C32CE0576098;\r\n";

// Passes every call to the system, noting for each send whether `lock` was held.
class LockWatchingOps : public SocketOps {
  public:
    long send(int socket, const void* data, std::size_t length) override {
        ++sends;
        if (lock == nullptr || !lock->held()) ++sendsWithoutLock;
        return systemSocketOps().send(socket, data, length);
    }
    long recv(int socket, void* buffer, std::size_t capacity) override {
        return systemSocketOps().recv(socket, buffer, capacity);
    }
    void pause(std::chrono::milliseconds duration) override { systemSocketOps().pause(duration); }

    ConsumerLock* lock = nullptr;
    int sends = 0;
    int sendsWithoutLock = 0;
};

class LockScopeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ops.lock = &rig.sendLock.lock();
        rig.setEndpoint(LINK_SOURCE, source.port());
        rig.setEndpoint(LINK_CONSUMER, consumer.port());
        receiver = rig.connect(LINK_SOURCE, source);
        feed = rig.connect(LINK_CONSUMER, consumer);
        ASSERT_TRUE(waitForFeed(HANDSHAKE.size()));
        ops.sends = 0;  // the handshake is sent without the lock, by design
        ops.sendsWithoutLock = 0;
    }
    bool waitForFeed(std::size_t size) {
        return rig.host.runUntil(
            [&] { return feed.readAvailable() && feed.received().size() >= size; }, 5s);
    }
    void receiverSends(const std::string& bytes) {
        const int reads = rig.host.eventsDelivered(LINK_SOURCE, FD_READ);
        ASSERT_TRUE(receiver.send(bytes));
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return rig.host.eventsDelivered(LINK_SOURCE, FD_READ) > reads; }, 5s));
    }

    LockWatchingOps ops;
    LinkRig rig{ops, &compress};
    Listener source;
    Listener consumer;
    Peer receiver;
    Peer feed;
};

// Plain lines and a compressed flush alike: no byte reaches the consumer while
// the lock is free.
TEST_F(LockScopeTest, EverySendHoldsTheLock) {
    for (const int compressed : {0, 1}) {
        SCOPED_TRACE(compressed);
        rig.relay.settings().compressEnabled = compressed;
        rig.relay.settings().compressTicks = 0;
        const std::size_t before = feed.received().size();
        ASSERT_NO_FATAL_FAILURE(receiverSends(LINE + LINE));
        rig.tick(2);  // the next line flushes the batch
        ASSERT_NO_FATAL_FAILURE(receiverSends(LINE));
        ASSERT_TRUE(waitForFeed(before + 1));
        EXPECT_GT(ops.sends, 0);
        EXPECT_EQ(ops.sendsWithoutLock, 0);
    }
}

// Another relay holds the lock for a long time. Lines that only join the batch
// go on without waiting for it (each wait could last 5 s); the line that
// flushes waits for it, and the frame then carries every line.
TEST_F(LockScopeTest, BatchedLinesDoNotWaitForTheLock) {
    const std::string path = rig.sendLock.lock().path();
    ConsumerLock otherRelay(path.substr(0, path.rfind('/')));
    ASSERT_TRUE(otherRelay.acquire(std::chrono::milliseconds(0)));
    rig.relay.settings().compressEnabled = 1;
    rig.relay.settings().compressTicks = 50;

    std::string lines;
    for (int i = 0; i < 20; ++i) lines += LINE;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(receiverSends(lines));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(rig.relay.sender().batchLength(), static_cast<int>(lines.size()));
    EXPECT_EQ(ops.sends, 0);

    otherRelay.release();
    rig.tick(51);
    ASSERT_NO_FATAL_FAILURE(receiverSends(LINE));
    ASSERT_TRUE(waitForFeed(HANDSHAKE.size() + 1));
    EXPECT_EQ(rig.relay.sender().batchLength(), 0);
    EXPECT_GT(ops.sends, 0);
    EXPECT_EQ(ops.sendsWithoutLock, 0);
}

// Counts sends; every send takes all it is given.
class CountingOps : public SocketOps {
  public:
    long send(int, const void*, std::size_t length) override {
        ++sends;
        return static_cast<long>(length);
    }
    long recv(int, void*, std::size_t) override { return -1; }
    void pause(std::chrono::milliseconds) override {}
    int sends = 0;
};

// onlyBatches must answer true exactly when the call then sends nothing: a
// wrong true would put a send outside the lock. At the edges of the batch room
// and of the batch clock.
TEST(OnlyBatchesTest, PredictsExactlyTheCallsThatSendNothing) {
    struct Case {
        const char* name;
        int compress;
        int compressTicks;
        int ticks;
        int batchBefore;  // bytes already batched
        int count;
    };
    const Case cases[] = {
        {"compression off", 0, 50, 0, 0, 44},
        {"room and time left", 1, 50, 0, 0, 44},
        {"fills the batch exactly", 1, 50, 0, BATCH_APPEND_LIMIT - 44, 44},
        {"one byte too many", 1, 50, 0, BATCH_APPEND_LIMIT - 44, 45},
        {"clock at the step", 1, 3, 3, 0, 44},
        {"clock past the step", 1, 3, 4, 0, 44},
        {"negative step", 1, -1, 0, 0, 44},
        {"empty block, clock past", 1, 0, 1, 0, 0},
        {"larger than one piece", 1, 50, 0, 0, CONSUMER_BLOCK_MAX + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RelaySettings settings;
        settings.compressEnabled = 1;
        settings.compressTicks = 1000;
        MessageLog log;
        CountingOps ops;
        ConsumerSender sender(settings, &compress, log, ops);
        const std::string filler(static_cast<std::size_t>(c.batchBefore), 'x');
        sender.sendToConsumer(3, filler.data(), c.batchBefore);
        ASSERT_EQ(sender.batchLength(), c.batchBefore);
        ASSERT_EQ(ops.sends, 0);
        settings.compressEnabled = c.compress;
        settings.compressTicks = c.compressTicks;
        for (int i = 0; i < c.ticks; ++i) sender.advanceBatchClock();

        const bool predicted = sender.onlyBatches(c.count);
        const std::string block(static_cast<std::size_t>(c.count), 'y');
        sender.sendToConsumer(3, block.data(), c.count);
        EXPECT_EQ(predicted, ops.sends == 0);
    }
}

}  // namespace
}  // namespace velgor::test
