// The consumer handshake on live connections: it comes first on every consumer
// connection, the slot goes up only after it, and a consumer that goes away in
// the middle of it is dropped and connected again.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "links/link_rig.h"
#include "links/socket_event.h"

namespace velgor::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string LINE_A = "*8D4840D6202CC371C32CE0576098;\r\n";
const std::string LINE_B = "@0000A1B2C3D45D4840D6202CC3;\r\n";

// Real sends, each noted with whether the consumer slot was up at that moment.
class SendRecorder : public SocketOps {
  public:
    struct Send {
        int socket;
        std::string bytes;
        bool consumerUp;
    };

    long send(int socket, const void* data, std::size_t length) override {
        Relay* watched = relay.load();
        const bool up = watched != nullptr && watched->links().isUp(LINK_CONSUMER);
        const long n = SocketOps::send(socket, data, length);
        std::lock_guard lock(mutex_);
        sends_.push_back(Send{
            socket, std::string(static_cast<const char*>(data), n > 0 ? std::size_t(n) : 0), up});
        return n;
    }
    std::size_t sendCount() const {
        std::lock_guard lock(mutex_);
        return sends_.size();
    }
    // The sends on `socket` from the `from`-th send on (a socket number is
    // reused once its connection is closed).
    std::vector<Send> sendsOn(int socket, std::size_t from) const {
        std::lock_guard lock(mutex_);
        std::vector<Send> on;
        for (std::size_t i = from; i < sends_.size(); ++i) {
            if (sends_[i].socket == socket) on.push_back(sends_[i]);
        }
        return on;
    }

    std::atomic<Relay*> relay{nullptr};

  private:
    mutable std::mutex mutex_;
    std::vector<Send> sends_;
};

std::string handshakeOf(const std::string& name, const char* modeLine) {
    return "#" + name + "\r\n#47.000000\r\n#-2.000000\r\n" + modeLine + "\r\n";
}

void setStation(Relay& relay, const std::string& name) {
    relay.setStationName(name);
    relay.setStationPosition(47 * 3600.0, -2 * 3600.0);
}

// Over two consumer connections (the first closed by the consumer): each begins
// with the four handshake lines made from the settings of that moment, all sent
// before the slot read LINK_UP, and the data lines follow them.
TEST(HandshakeTest, ComesFirstOnEveryConsumerConnectionAndBeforeTheLinkIsUp) {
    SendRecorder ops;
    LinkRig rig(ops);
    ops.relay = &rig.relay;
    Listener source;
    Listener consumer;
    rig.setEndpoint(LINK_SOURCE, source.port());
    rig.setEndpoint(LINK_CONSUMER, consumer.port());
    setStation(rig.relay, "Kervala");
    rig.startReconnecting();
    Peer receiver = rig.acceptWhenUp(LINK_SOURCE, source);
    ASSERT_TRUE(receiver.connected());

    Peer feed;
    for (const std::string name : {"Kervala", "Station-2"}) {
        SCOPED_TRACE(name);
        std::size_t firstSend = 0;  // the relay sends nothing but on the consumer link
        if (feed.connected()) {
            feed.close();  // the consumer goes away: a new connection comes next cycle
            ASSERT_TRUE(
                rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 5s));
            setStation(rig.relay, name);
            // The next attempt needs the main thread for its first status refresh,
            // so none of its sends can have been made yet.
            firstSend = ops.sendCount();
        }
        feed = rig.acceptWhenUp(LINK_CONSUMER, consumer);
        ASSERT_TRUE(feed.connected());
        const int relaySocket = rig.socketOf(LINK_CONSUMER);
        const std::string handshake = handshakeOf(name, "#TEXT");
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return feed.readAvailable() && feed.received().size() >= handshake.size(); },
            5s));
        EXPECT_EQ(feed.received(), handshake);

        ASSERT_TRUE(receiver.send("junk\r\n" + LINE_A + LINE_B));
        const std::string expected = handshake + LINE_A + LINE_B;
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return feed.readAvailable() && feed.received().size() >= expected.size(); }, 5s));
        EXPECT_EQ(feed.received(), expected);

        // Handshake sends, then the block's lines in one send, with the slot going
        // up in between.
        const auto sends = ops.sendsOn(relaySocket, firstSend);
        ASSERT_EQ(sends.size(), 5u);
        EXPECT_EQ(sends[4].bytes, LINE_A + LINE_B);
        std::string beforeUp;
        for (std::size_t i = 0; i < sends.size(); ++i) {
            EXPECT_EQ(sends[i].consumerUp, i >= 4) << "send " << i;
            if (i < 4) beforeUp += sends[i].bytes;
        }
        EXPECT_EQ(beforeUp, handshake);
    }
    rig.stopReconnecting();
}

// The fourth line names the stream mode and the compression in force.
TEST(HandshakeTest, ModeLineFollowsBinaryModeAndCompression) {
    struct Case {
        int binary;
        int compress;
        const char* modeLine;
    };
    for (const Case& c : {Case{0, 0, "#TEXT"}, Case{1, 0, "#BINARY"}, Case{0, 1, "#TEXT:COMPRESS"},
                          Case{1, 1, "#BINARY:COMPRESS"}}) {
        SCOPED_TRACE(c.modeLine);
        LinkRig rig(systemSocketOps(), &compress);
        setStation(rig.relay, "Kervala");
        rig.relay.editSettings([&](RelaySettings& s) { s.binaryMode = c.binary; });
        rig.relay.editSettings([&](RelaySettings& s) { s.compressEnabled = c.compress; });
        Listener consumer;
        rig.setEndpoint(LINK_CONSUMER, consumer.port());
        Peer feed = rig.connect(LINK_CONSUMER, consumer);
        const std::string handshake = handshakeOf("Kervala", c.modeLine);
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return feed.readAvailable() && feed.received().size() >= handshake.size(); },
            5s));
        EXPECT_EQ(feed.received(), handshake);
    }
}

// Holds the connecting thread before one of its handshake sends until the test
// lets it go, so that the consumer can act in the middle of the handshake.
class HandshakeGate : public SocketOps {
  public:
    explicit HandshakeGate(int holdBeforeSend) : holdBeforeSend_(holdBeforeSend) {}

    long send(int socket, const void* data, std::size_t length) override {
        if (++sends_ == holdBeforeSend_) {
            std::unique_lock lock(mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 10s, [&] { return released_; });
        }
        return SocketOps::send(socket, data, length);
    }
    bool held() {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    const int holdBeforeSend_;
    std::atomic<int> sends_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

// A relay named "Kervala" whose consumer link connects to a listener here, with
// its reconnect thread held by the gate inside the handshake; the source refuses.
struct GatedConsumer {
    explicit GatedConsumer(int holdBeforeSend) : gate(holdBeforeSend), rig(gate) {
        setStation(rig.relay, "Kervala");
        rig.setEndpoint(LINK_SOURCE, refusing.port());
        rig.setEndpoint(LINK_CONSUMER, consumer.port());
        rig.startReconnecting();
    }

    HandshakeGate gate;
    LinkRig rig;
    Listener consumer;
    RefusingPort refusing;
};

// The operator switches compression or binary mode on while a consumer
// connection is being made. That connection's handshake announced the old mode,
// so it is let go instead of going up; the next one announces the new mode.
TEST(HandshakeTest, ModeSwitchedDuringTheHandshakeIsNotLeftOnTheOldMode) {
    const struct {
        std::int32_t RelaySettings::*flag;
        const char* nextModeLine;
    } cases[] = {
        {&RelaySettings::compressEnabled, "#TEXT:COMPRESS"},
        {&RelaySettings::binaryMode, "#BINARY"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nextModeLine);
        GatedConsumer setUp(2);  // holds the connecting thread before the second line
        auto& [gate, rig, consumer, refusing] = setUp;
        Peer first;
        ASSERT_TRUE(rig.host.runUntil(
            [&] {
                if (!first.connected()) first = Peer(consumer.tryAccept());
                return gate.held();
            },
            5s));
        rig.relay.editSettings([&](RelaySettings& s) { s.*c.flag = 1; });
        gate.release();

        ASSERT_TRUE(rig.host.runUntil([&] { return !first.readAvailable(); }, 5s))
            << "the connection with the old mode line stayed";
        EXPECT_EQ(first.received(), handshakeOf("Kervala", "#TEXT"));
        EXPECT_NE(rig.state(LINK_CONSUMER), LINK_UP);
        Peer second = rig.acceptWhenUp(LINK_CONSUMER, consumer);
        ASSERT_TRUE(second.connected());
        const std::string handshake = handshakeOf("Kervala", c.nextModeLine);
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return second.readAvailable() && second.received().size() >= handshake.size(); },
            5s));
        EXPECT_EQ(second.received(), handshake);
        rig.stopReconnecting();
    }
}

struct CloseCase {
    const char* name;
    int linesReadFirst;  // handshake lines the consumer takes before it closes
};

// Shown by the test framework for the parameter.
void PrintTo(const CloseCase& c, std::ostream* out) {
    *out << c.name;
}

std::string closeCaseName(const ::testing::TestParamInfo<CloseCase>& param) {
    return param.param.name;
}

class ConsumerClosesDuringHandshakeTest : public ::testing::TestWithParam<CloseCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, ConsumerClosesDuringHandshakeTest,
                         ::testing::Values(CloseCase{"CloseAtOnce", 0},
                                           CloseCase{"ReadOneLineThenClose", 1}),
                         closeCaseName);

// The consumer closes while the handshake is being sent. The slot never ends up
// LINK_UP without a socket; it goes up, its close is seen, it is dropped, and
// the next cycle connects again with a whole handshake, without the rest of the
// dead connection's handshake holding up the reconnect thread.
TEST_P(ConsumerClosesDuringHandshakeTest, LinkIsDroppedAndMadeAgain) {
    const CloseCase& c = GetParam();
    GatedConsumer setUp(c.linesReadFirst + 1);
    auto& [gate, rig, consumer, refusing] = setUp;

    bool upWithoutSocket = false;
    auto watchSlot = [&] {
        if (rig.relay.links().isUp(LINK_CONSUMER) && rig.socketOf(LINK_CONSUMER) < 0) {
            upWithoutSocket = true;
        }
    };

    Peer first;
    ASSERT_TRUE(rig.host.runUntil(
        [&] {
            watchSlot();
            if (!first.connected()) first = Peer(consumer.tryAccept());
            return first.connected() && gate.held();
        },
        5s));
    if (c.linesReadFirst > 0) {
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return first.readAvailable() && first.received() == "#Kervala\r\n"; }, 5s));
    }
    first.close();
    const auto closedAt = Clock::now();
    gate.release();

    Peer second;
    ASSERT_TRUE(rig.host.runUntil(
        [&] {
            watchSlot();
            if (!second.connected()) second = Peer(consumer.tryAccept());
            return second.connected();
        },
        20s));
    const auto reconnectedAfter = Clock::now() - closedAt;
    const std::string handshake = handshakeOf("Kervala", "#TEXT");
    ASSERT_TRUE(rig.host.runUntil(
        [&] {
            watchSlot();
            return second.readAvailable() && second.received().size() >= handshake.size() &&
                   rig.relay.links().isUp(LINK_CONSUMER);
        },
        5s));
    rig.stopReconnecting();

    EXPECT_FALSE(upWithoutSocket);
    EXPECT_EQ(second.received(), handshake);
    const auto& history = rig.statuses.of(LINK_CONSUMER);
    EXPECT_EQ(rig.host.eventsDelivered(LINK_CONSUMER, FD_CLOSE), 1)
        << ::testing::PrintToString(history);
    EXPECT_NE(std::find(history.begin(), history.end(), "Связь разорвана"), history.end())
        << "drops: " << rig.drops.size();
    // One reconnect cycle is 1.5 s; a handshake that kept retrying the dead
    // connection (16 attempts 300 ms apart per line) would take over 13 s.
    EXPECT_LT(reconnectedAfter, 4s);
}

}  // namespace
}  // namespace velgor::test
