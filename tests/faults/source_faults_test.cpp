// Faults on the source side: a receiver that dies in the middle of a record or
// line and is started again, a receiver that resets its connection, and one that
// sends nothing the decoder can use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/fault_support.h"
#include "links/link_rig.h"
#include "links/socket_event.h"

namespace velgor::test {
namespace {

const std::string DROPPED = "Связь разорвана";

// Both links made by the reconnect thread; the consumer's handshake is taken.
class SourceFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.relay.editSettings([&](RelaySettings& s) { s.signalThreshold = 0; });
    }
    void TearDown() override { rig.stopReconnecting(); }

    void start(bool binary) {
        rig.relay.editSettings([&](RelaySettings& s) { s.binaryMode = binary ? 1 : 0; });
        ASSERT_TRUE(rig.connectBoth(peers, Connecting::ByReconnectThread));
    }

    // The lines the consumer received after its handshake.
    std::vector<std::string> feedLines() {
        feed.readAvailable();
        return linesOf(afterHandshake(feed.received()));
    }

    // Pumps until the consumer holds `count` lines (or a little longer, so that
    // a line too many would show).
    std::vector<std::string> waitForLines(std::size_t count) {
        rig.host.runUntil([&] { return feedLines().size() >= count; }, 5s);
        rig.host.pump(200ms);
        return feedLines();
    }

    LinkRig rig;
    LinkPeers peers;
    Listener& source = peers.source;
    Listener& consumer = peers.consumer;
    Peer& feed = peers.feed;
    Peer& receiver = peers.receiver;
};

struct CutCase {
    const char* name;
    bool binary;
    std::string cutOff;  // the unfinished tail the first receiver writes before it dies
};

std::string head(const std::string& bytes, std::size_t n) {
    return bytes.substr(0, n);
}

const ReceiverRecord LONG_RECORD = makeRecord('3', 0x000012345678, 1);
const ReceiverRecord ESCAPED_RECORD = makeRecord('3', 0x00001A1A0000, 2, true);

std::vector<CutCase> cutCases() {
    const std::string& wire = LONG_RECORD.wire;
    // Where the doubled data 0x1A of the escaped record begins.
    const std::size_t doubled = ESCAPED_RECORD.wire.find("\x1A\x1A", 2);
    return {
        {"BinaryAfterTheEscape", true, head(wire, 1)},
        {"BinaryAfterTheType", true, head(wire, 2)},
        {"BinaryInTheTimestamp", true, head(wire, 6)},
        {"BinaryOneByteShort", true, head(wire, wire.size() - 1)},
        {"BinaryInsideADoubledEscape", true, head(ESCAPED_RECORD.wire, doubled + 1)},
        {"TextInTheMiddleOfALine", false, "*8D4840D6202C"},
        {"TextAfterTheFirstCharacter", false, "@"},
    };
}

class ReceiverRestartTest : public SourceFaultTest,
                            public ::testing::WithParamInterface<CutCase> {};

INSTANTIATE_TEST_SUITE_P(Cuts, ReceiverRestartTest, ::testing::ValuesIn(cutCases()),
                         [](const auto& each) { return std::string(each.param.name); });

// A receiver writes whole records or lines, then part of one, and dies. A fresh
// receiver then serves its stream from the start. What the consumer gets is
// exactly the whole lines of both: the part that was cut off neither comes out
// nor spoils the first line of the new connection.
TEST_P(ReceiverRestartTest, LinesResumeWithoutACorruptedLine) {
    const CutCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(c.binary));

    std::vector<std::string> first, second;
    std::string firstWire, secondWire;
    for (unsigned i = 0; i < 3; ++i) {
        if (c.binary) {
            const auto r = makeRecord("123"[i], 0x100000 + i, 10 + i, i == 1);
            firstWire += r.wire;
            first.push_back(r.line);
            const auto s = makeRecord("321"[i], 0x200000 + i, 20 + i, i == 0);
            secondWire += s.wire;
            second.push_back(s.line);
        } else {
            const std::string a = "*8D4840D6202CC371C32CE057609" + std::to_string(i) + ";";
            firstWire += a + "\r\n";
            first.push_back(a + "\r\n");
            const std::string b = "@0000123456785D4840D6202CC" + std::to_string(i) + ";";
            secondWire += b + "\r\n";
            second.push_back(b + "\r\n");
        }
    }

    ASSERT_TRUE(receiver.send(firstWire + c.cutOff));
    ASSERT_EQ(waitForLines(first.size()), first);
    receiver.close();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_SOURCE) == LINK_DOWN; }, 5s));

    Peer restarted = rig.acceptWhenUp(LINK_SOURCE, source);
    ASSERT_TRUE(restarted.connected());
    ASSERT_TRUE(restarted.send(secondWire));

    std::vector<std::string> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    const std::vector<std::string> got = waitForLines(expected.size());
    EXPECT_EQ(got, expected);
    for (const std::string& line : got) EXPECT_TRUE(wellFormedLine(line)) << line;
    EXPECT_EQ(rig.relay.decoder().fillCount(), 0) << "nothing half-assembled is left over";
}

// A peer that resets its connection (SO_LINGER 0) is dropped like one that
// closes: "Связь разорвана", LINK_DOWN, socket closed and unwatched; the link is
// made again within a cycle and data flows; the other link is not disturbed.
TEST_F(SourceFaultTest, ResetByEitherPeerDropsOnlyThatLinkAndItComesBack) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    const std::string line = "*8D4840D6202CC371C32CE0576098;\r\n";

    // The receiver resets, in the middle of sending.
    ASSERT_TRUE(receiver.send(line + "*8D48"));
    ASSERT_EQ(waitForLines(1).size(), 1u);
    resetAndClose(receiver.fd());
    receiver = Peer();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_SOURCE) == LINK_DOWN; }, 5s));
    EXPECT_EQ(rig.status(LINK_SOURCE), DROPPED);
    EXPECT_EQ(rig.host.watchedSocket(LINK_SOURCE), -1);
    EXPECT_EQ(rig.state(LINK_CONSUMER), LINK_UP);
    ASSERT_EQ(rig.drops.size(), 1u);
    EXPECT_EQ(rig.drops[0].second.cause, DropCause::ConnectionError);
    EXPECT_EQ(describeDrop(rig.drops[0].second), "connection failed: Connection reset by peer");
    receiver = rig.acceptWhenUp(LINK_SOURCE, source);
    ASSERT_TRUE(receiver.connected());
    ASSERT_TRUE(receiver.send(line));
    EXPECT_EQ(waitForLines(2).size(), 2u);

    // The consumer resets while lines are being sent to it.
    resetAndClose(feed.fd());
    feed = Peer();
    ASSERT_TRUE(receiver.send(line + line));
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 5s));
    EXPECT_EQ(rig.status(LINK_CONSUMER), DROPPED);
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_UP);
    ASSERT_EQ(rig.drops.size(), 2u);
    EXPECT_EQ(rig.drops[1].first, LINK_CONSUMER);
    EXPECT_NE(rig.drops[1].second.cause, DropCause::PeerClosed) << "a reset is no orderly close";
    feed = rig.acceptWhenUp(LINK_CONSUMER, consumer);
    ASSERT_TRUE(feed.connected());
    ASSERT_TRUE(rig.waitForHandshake(feed));
    std::vector<std::string> handshake;
    afterHandshake(feed.received(), &handshake);
    EXPECT_EQ(handshake.at(3), "#TEXT\r\n") << "a fresh handshake comes first";
    ASSERT_TRUE(receiver.send(line));
    EXPECT_EQ(waitForLines(1), std::vector<std::string>{line});
}

// A receiver that sends only bytes from which no line can be made (a steady
// stream of them) counts as silent: with the watchdog on and the limit 60, its
// connection goes on the 61st tick, and comes back.
class GarbageReceiverTest : public SourceFaultTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Modes, GarbageReceiverTest, ::testing::Bool(),
                         [](const auto& each) { return each.param ? "Binary" : "Text"; });

TEST_P(GarbageReceiverTest, IsDroppedOnTheTickAfterTheLimit) {
    const bool binary = GetParam();
    rig.relay.editSettings([&](RelaySettings& s) { s.watchdogEnabled = 1; });
    rig.relay.editSettings([&](RelaySettings& s) { s.noDataLimit = 60; });
    ASSERT_NO_FATAL_FAILURE(start(binary));
    // Binary: escapes followed by no type byte, and bytes outside any record.
    // Text: lines that begin with none of '*', '@', "MSG", and runs of 3000 bytes
    // without a line end.
    const std::string garbage =
        binary
            ? std::string("\x1A\x34\x1A\x1A\x1A\x00\x2A\x40MSG\r\n", 13) + std::string(2000, '\x7F')
            : "#SET OUT DATE ORIGINAL\r\nMS\r\n\r\n" + std::string(3000, '.');
    ASSERT_EQ(rig.relay.noDataTicks(), 0);
    for (int tick = 1; tick <= 60; ++tick) {
        ASSERT_TRUE(receiver.send(garbage));
        rig.host.runUntil([&] { return pendingSocketEvent(rig.socketOf(LINK_SOURCE)) == FD_NONE; },
                          1s);
        rig.tick();
        ASSERT_EQ(rig.state(LINK_SOURCE), LINK_UP) << "dropped early, on tick " << tick;
    }
    rig.tick();
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_DOWN);
    EXPECT_EQ(rig.status(LINK_SOURCE), DROPPED);
    ASSERT_EQ(rig.drops.size(), 1u);
    EXPECT_EQ(rig.drops[0].second.cause, DropCause::Watchdog);
    EXPECT_TRUE(feedLines().empty()) << "no line was made of the garbage";
    EXPECT_TRUE(rig.waitUp(LINK_SOURCE, 3s)) << "the reconnect thread makes it again";
}

}  // namespace
}  // namespace velgor::test
