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
        ASSERT_TRUE(rig.connectBoth(peers));
        ASSERT_EQ(feed.received(), HANDSHAKE);
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
    LinkPeers peers;
    Peer& receiver = peers.receiver;
    Peer& feed = peers.feed;
};

// Plain lines and a compressed flush alike: no byte reaches the consumer while
// the lock is free.
TEST_F(LockScopeTest, EverySendHoldsTheLock) {
    for (const int compressed : {0, 1}) {
        SCOPED_TRACE(compressed);
        rig.relay.editSettings([&](RelaySettings& s) { s.compressEnabled = compressed; });
        rig.relay.editSettings([&](RelaySettings& s) { s.compressTicks = 0; });
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
// go on without waiting for it (each wait could last 5 s); the tick that
// flushes sends under it, and the frame then carries every line.
TEST_F(LockScopeTest, BatchedLinesDoNotWaitForTheLock) {
    const std::string path = rig.sendLock.lock().path();
    ConsumerLock otherRelay(path.substr(0, path.rfind('/')));
    ASSERT_TRUE(otherRelay.acquire(std::chrono::milliseconds(0)));
    rig.relay.editSettings([&](RelaySettings& s) { s.compressEnabled = 1; });
    rig.relay.editSettings([&](RelaySettings& s) { s.compressTicks = 50; });

    std::string lines;
    for (int i = 0; i < 20; ++i) lines += LINE;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(receiverSends(lines));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(rig.relay.sender().batchLength(), static_cast<int>(lines.size()));
    EXPECT_EQ(ops.sends, 0);

    otherRelay.release();
    rig.tick(51);
    ASSERT_TRUE(waitForFeed(HANDSHAKE.size() + 1));
    EXPECT_EQ(rig.relay.sender().batchLength(), 0);
    EXPECT_GT(ops.sends, 0);
    EXPECT_EQ(ops.sendsWithoutLock, 0);
}

}  // namespace
}  // namespace velgor::test
