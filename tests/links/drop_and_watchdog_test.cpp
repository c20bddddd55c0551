// Lost connections: a peer's close or the no-data watchdog drops a link, and the
// reconnect thread makes it again within a cycle.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "links/link_rig.h"
#include "links/socket_event.h"

namespace velgor::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string HANDSHAKE = "#Kervala\r\n#47.198200\r\n#39.628200\r\n#TEXT\r\n";
const std::string LINE_A = "*8D4840D6202CC371C32CE0576098;\r\n";
const std::string LINE_B = "*5D4840D6D9B1C4;\r\n";
const std::string DROPPED = "Связь разорвана";

bool readAtLeast(LinkRig& rig, Peer& peer, std::size_t size) {
    return rig.host.runUntil([&] { return peer.readAvailable() && peer.received().size() >= size; },
                             5s);
}

enum class Cause { PeerCloses, Watchdog };
struct DropCase {
    const char* name;
    int link;
    Cause cause;
};

// Shown by the test framework for the parameter.
void PrintTo(const DropCase& c, std::ostream* out) {
    *out << c.name;
}

class DropAndReconnectTest : public ::testing::TestWithParam<DropCase> {};

std::string dropCaseName(const ::testing::TestParamInfo<DropCase>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropAndReconnectTest,
    ::testing::Values(DropCase{"SourcePeerCloses", LINK_SOURCE, Cause::PeerCloses},
                      DropCase{"ConsumerPeerCloses", LINK_CONSUMER, Cause::PeerCloses},
                      DropCase{"SourceWatchdog", LINK_SOURCE, Cause::Watchdog}),
    dropCaseName);

// With both links up, one is lost: it shows "Связь разорвана" and LINK_DOWN, its
// socket is closed and no longer watched, the other link carries on untouched,
// and a new connection follows within one cycle (for the consumer, with a fresh
// handshake); data then flows over the new connection.
TEST_P(DropAndReconnectTest, LostLinkIsDroppedAndMadeAgainWithinACycle) {
    const DropCase& c = GetParam();
    const int other = c.link == LINK_SOURCE ? LINK_CONSUMER : LINK_SOURCE;
    LinkRig rig;
    rig.relay.editSettings(
        [&](RelaySettings& s) { s.watchdogEnabled = c.cause == Cause::Watchdog ? 1 : 0; });
    Listener source;
    Listener consumer;
    rig.setEndpoint(LINK_SOURCE, source.port());
    rig.setEndpoint(LINK_CONSUMER, consumer.port());
    rig.startReconnecting();
    Peer receiver = rig.acceptWhenUp(LINK_SOURCE, source);
    Peer feed = rig.acceptWhenUp(LINK_CONSUMER, consumer);
    ASSERT_TRUE(receiver.connected() && feed.connected());
    ASSERT_TRUE(readAtLeast(rig, feed, HANDSHAKE.size()));
    const int otherSocket = rig.socketOf(other);

    if (c.cause == Cause::PeerCloses) {
        (c.link == LINK_SOURCE ? receiver : feed).close();
        ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(c.link) == LINK_DOWN; }, 5s));
        EXPECT_EQ(rig.host.eventsDelivered(c.link, FD_CLOSE), 1);
    } else {
        rig.tick(60);
        ASSERT_EQ(rig.state(c.link), LINK_UP);
        rig.tick();
        ASSERT_EQ(rig.state(c.link), LINK_DOWN);
        EXPECT_TRUE(rig.host.runUntil([&] { return !receiver.readAvailable(); }, 2s))
            << "the relay's end is closed";
    }
    const auto droppedAt = Clock::now();
    EXPECT_EQ(rig.status(c.link), DROPPED);
    ASSERT_EQ(rig.drops.size(), 1u);
    EXPECT_EQ(rig.drops[0].second.cause,
              c.cause == Cause::PeerCloses ? DropCause::PeerClosed : DropCause::Watchdog);
    EXPECT_EQ(rig.socketOf(c.link), INVALID_SOCKET_HANDLE);
    EXPECT_EQ(rig.host.watchedSocket(c.link), -1);
    EXPECT_EQ(rig.state(other), LINK_UP);
    EXPECT_EQ(rig.socketOf(other), otherSocket);

    Peer again = rig.acceptWhenUp(c.link, c.link == LINK_SOURCE ? source : consumer, 5s);
    ASSERT_TRUE(again.connected());
    // The next turn of the link comes within one cycle of 1.5 s.
    EXPECT_LT(Clock::now() - droppedAt, 2500ms);
    const auto& history = rig.statuses.of(c.link);
    ASSERT_GE(history.size(), 3u);
    EXPECT_EQ(history[history.size() - 3], DROPPED);
    EXPECT_EQ(history.back(), "Соединение 127.0.0.1");

    Peer& newReceiver = c.link == LINK_SOURCE ? again : receiver;
    Peer& newFeed = c.link == LINK_CONSUMER ? again : feed;
    const std::size_t before = newFeed.received().size();
    ASSERT_TRUE(newReceiver.send(LINE_A));
    const std::string expected = (c.link == LINK_CONSUMER ? HANDSHAKE : "") + LINE_A;
    ASSERT_TRUE(readAtLeast(rig, newFeed, before + expected.size()));
    EXPECT_EQ(newFeed.received().substr(before), expected);
    rig.stopReconnecting();
}

// The no-data watchdog, driven tick by tick on a source connection that stays
// silent: with the limit N it drops the link on the (N + 1)-th tick; a limit of
// 0 or below drops it at the first tick; switched off it never drops, although
// the count keeps expiring and starting again.
TEST(WatchdogTest, DropsASilentSourceOnTheTickAfterTheLimit) {
    struct Case {
        int enabled;
        int limit;
        int dropTick;  // 0: never within the ticks run
    };
    for (const Case& c : {Case{1, 60, 61}, Case{1, 5, 6}, Case{1, 0, 1}, Case{1, -5, 1},
                          Case{0, 60, 0}, Case{0, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << "enabled " << c.enabled << " limit " << c.limit);
        LinkRig rig;
        rig.relay.editSettings([&](RelaySettings& s) { s.watchdogEnabled = c.enabled; });
        rig.relay.editSettings([&](RelaySettings& s) { s.noDataLimit = c.limit; });
        Listener source;
        rig.setEndpoint(LINK_SOURCE, source.port());
        Peer receiver = rig.connect(LINK_SOURCE, source);
        ASSERT_EQ(rig.state(LINK_SOURCE), LINK_UP);

        const int ticks = c.dropTick > 0 ? c.dropTick : 200;
        int droppedOn = 0;
        for (int tick = 1; tick <= ticks && droppedOn == 0; ++tick) {
            rig.tick();
            if (rig.state(LINK_SOURCE) != LINK_UP) droppedOn = tick;
            // The count restarts after passing the limit, on or off.
            if (c.limit >= 0 && tick % (c.limit + 1) == 0) {
                EXPECT_EQ(rig.relay.noDataTicks(), 0);
            }
        }
        EXPECT_EQ(droppedOn, c.dropTick);
        if (c.dropTick > 0) {
            EXPECT_EQ(rig.state(LINK_SOURCE), LINK_DOWN);
            EXPECT_EQ(rig.status(LINK_SOURCE), DROPPED);
            EXPECT_EQ(rig.host.watchedSocket(LINK_SOURCE), -1);
        }
    }
}

// What holds the watchdog off: a finished line or a connection of either link
// restarts the count; bytes from which no line is finished do not.
TEST(WatchdogTest, CountRestartsOnAFinishedLineOrANewConnection) {
    enum class Event { FinishedLine, BytesWithoutALine, ConsumerConnects };
    struct Case {
        const char* name;
        Event event;
        bool restarts;
    };
    for (const Case& c : {Case{"finished line", Event::FinishedLine, true},
                          Case{"bytes without a line", Event::BytesWithoutALine, false},
                          Case{"consumer connects", Event::ConsumerConnects, true}}) {
        SCOPED_TRACE(c.name);
        LinkRig rig;
        rig.relay.editSettings([&](RelaySettings& s) { s.watchdogEnabled = 1; });
        Listener source;
        Listener consumer;
        rig.setEndpoint(LINK_SOURCE, source.port());
        rig.setEndpoint(LINK_CONSUMER, consumer.port());
        Peer receiver = rig.connect(LINK_SOURCE, source);
        Peer feed;
        rig.tick(50);

        const int readsBefore = rig.host.eventsDelivered(LINK_SOURCE, FD_READ);
        switch (c.event) {
            case Event::FinishedLine:
                ASSERT_TRUE(receiver.send(LINE_B));
                break;
            case Event::BytesWithoutALine:
                ASSERT_TRUE(receiver.send(
                    "status: fine\r\n*8D4840D6"));  // one line not taken, one unfinished
                break;
            case Event::ConsumerConnects:
                feed = rig.connect(LINK_CONSUMER, consumer);
                break;
        }
        if (c.event != Event::ConsumerConnects) {
            ASSERT_TRUE(rig.host.runUntil(
                [&] { return rig.host.eventsDelivered(LINK_SOURCE, FD_READ) > readsBefore; }, 5s));
        }
        EXPECT_EQ(rig.relay.noDataTicks(), c.restarts ? 0 : 50);

        const int survives = c.restarts ? 60 : 10;
        rig.tick(survives);
        EXPECT_EQ(rig.state(LINK_SOURCE), LINK_UP);
        rig.tick();
        EXPECT_EQ(rig.state(LINK_SOURCE), LINK_DOWN);
    }
}

// With the limit 0 the link goes at the first tick, however much data arrives.
TEST(WatchdogTest, ZeroLimitDropsAtTheFirstTickDespiteData) {
    LinkRig rig;
    rig.relay.editSettings([&](RelaySettings& s) { s.watchdogEnabled = 1; });
    rig.relay.editSettings([&](RelaySettings& s) { s.noDataLimit = 0; });
    Listener source;
    rig.setEndpoint(LINK_SOURCE, source.port());
    Peer receiver = rig.connect(LINK_SOURCE, source);
    ASSERT_TRUE(receiver.send(LINE_A + LINE_B));
    ASSERT_TRUE(
        rig.host.runUntil([&] { return rig.host.eventsDelivered(LINK_SOURCE, FD_READ) > 0; }, 5s));
    ASSERT_EQ(rig.relay.noDataTicks(), 0);
    rig.tick();
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_DOWN);
}

}  // namespace
}  // namespace velgor::test
