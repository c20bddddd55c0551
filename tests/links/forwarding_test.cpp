// Socket events on live links: the consumer's commands, raw pass-through, reads
// that bring nothing, event words, the compression batch clock, and the traffic
// counts behind the periodic summary.
#include <gtest/gtest.h>
#include <zlib.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "links/link_rig.h"
#include "links/socket_event.h"
#include "sink/frame_reader.h"

namespace velgor::test {
namespace {

const std::string STATION = "#Kervala\r\n#47.198200\r\n#39.628200\r\n";
const std::string HANDSHAKE = STATION + "#TEXT\r\n";
const std::string LINE_A = "*8D4840D6202CC371C32CE0576098;\r\n";
const std::string LINE_B = "*5D4840D6D9B1C4;\r\n";
const std::string RAW_ON = "#SET OUT DATE ORIGINAL\r\n";
const std::string RAW_OFF = "#SET OUT DATE TEXT\r\n";

// Both links up by single attempts (no reconnect thread: each connection is made
// when the test asks), the consumer's handshake already taken.
class LiveLinksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.connectBoth(peers));
        ASSERT_EQ(feed.received(), HANDSHAKE);
    }
    void connectConsumer() {
        feed = rig.connect(LINK_CONSUMER, peers.consumer);
        ASSERT_TRUE(readUntil(HANDSHAKE.size()));
        ASSERT_EQ(feed.received(), HANDSHAKE);
    }
    bool readUntil(std::size_t size) {
        return rig.host.runUntil(
            [&] { return feed.readAvailable() && feed.received().size() >= size; }, 5s);
    }
    // Sends a block from the consumer and waits until the relay has read it.
    void consumerSays(const std::string& block) {
        const int reads = rig.host.eventsDelivered(LINK_CONSUMER, FD_READ);
        ASSERT_TRUE(feed.send(block));
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return rig.host.eventsDelivered(LINK_CONSUMER, FD_READ) > reads; }, 5s));
    }
    void receiverSends(const std::string& bytes) {
        const int reads = rig.host.eventsDelivered(LINK_SOURCE, FD_READ);
        ASSERT_TRUE(receiver.send(bytes));
        ASSERT_TRUE(rig.host.runUntil(
            [&] { return rig.host.eventsDelivered(LINK_SOURCE, FD_READ) > reads; }, 5s));
    }
    // Reads the feed after its handshake as frames until `count` blocks have come.
    std::vector<std::string> framedBlocks(std::size_t count,
                                          std::size_t handshakeSize = HANDSHAKE.size()) {
        std::vector<std::string> blocks;
        sink::FrameReader reader([&](const std::string& inflated) { blocks.push_back(inflated); });
        std::size_t fed = handshakeSize;
        rig.host.runUntil(
            [&] {
                feed.readAvailable();
                const std::string& wire = feed.received();
                reader.feed(reinterpret_cast<const std::uint8_t*>(wire.data()) + fed,
                            wire.size() - fed);
                fed = wire.size();
                return blocks.size() >= count;
            },
            5s);
        EXPECT_EQ(reader.strayBytes(), 0u);
        return blocks;
    }
    std::string newestLogText() {
        const MessageLog& log = rig.relay.messageLog();
        return log.slotText(log.newestSlot());
    }

    LinkRig rig{systemSocketOps(), &compress};
    LinkPeers peers;
    Peer& receiver = peers.receiver;
    Peer& feed = peers.feed;
};

// The consumer switches raw pass-through on: from then on the receiver's bytes
// reach it exactly as sent (lines, stray bytes, NULs and all) while the lines are
// still decoded for the log. The mode outlives a consumer reconnection; bytes that
// come while the consumer is down are not kept. Switched off, lines flow again.
TEST_F(LiveLinksTest, RawPassThroughFollowsTheConsumersCommands) {
    ASSERT_NO_FATAL_FAILURE(receiverSends("noise\r\n" + LINE_A));
    ASSERT_TRUE(readUntil(HANDSHAKE.size() + LINE_A.size()));
    EXPECT_EQ(feed.received(), HANDSHAKE + LINE_A);

    ASSERT_NO_FATAL_FAILURE(consumerSays(RAW_ON));
    EXPECT_EQ(rig.relay.sender().rawPassThrough(), 1);
    const std::string raw = "noise\r\n" + LINE_B + std::string("\0\x1a\xff\x10", 4) + "half a li";
    ASSERT_NO_FATAL_FAILURE(receiverSends(raw));
    ASSERT_TRUE(readUntil(HANDSHAKE.size() + LINE_A.size() + raw.size()));
    EXPECT_EQ(feed.received(), HANDSHAKE + LINE_A + raw);
    EXPECT_EQ(newestLogText(), LINE_B) << "lines are still shown";

    feed.close();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 5s));
    ASSERT_NO_FATAL_FAILURE(receiverSends("ne\r\n" + LINE_A));  // no consumer: gone for good
    ASSERT_NO_FATAL_FAILURE(connectConsumer());
    EXPECT_EQ(rig.relay.sender().rawPassThrough(), 1);
    const std::string raw2 = LINE_B + "tail";
    ASSERT_NO_FATAL_FAILURE(receiverSends(raw2));
    ASSERT_TRUE(readUntil(HANDSHAKE.size() + raw2.size()));
    EXPECT_EQ(feed.received(), HANDSHAKE + raw2);

    ASSERT_NO_FATAL_FAILURE(consumerSays(RAW_OFF));
    EXPECT_EQ(rig.relay.sender().rawPassThrough(), 0);
    ASSERT_NO_FATAL_FAILURE(receiverSends("\r\n" + LINE_A));  // ends the "tail" line
    ASSERT_TRUE(readUntil(HANDSHAKE.size() + raw2.size() + LINE_A.size()));
    EXPECT_EQ(feed.received(), HANDSHAKE + raw2 + LINE_A);
}

// Raw pass-through while compressing: the frames carry the receiver's bytes as
// they came, and no batched copy of the lines decoded from them.
TEST_F(LiveLinksTest, RawPassThroughWhileCompressingFramesTheRawBytesOnly) {
    rig.relay.editSettings([&](RelaySettings& s) { s.compressEnabled = 1; });
    rig.relay.editSettings([&](RelaySettings& s) { s.compressTicks = 0; });
    ASSERT_NO_FATAL_FAILURE(consumerSays(RAW_ON));
    const std::string raw = "noise\r\n" + LINE_A + LINE_B + "half a li";
    ASSERT_NO_FATAL_FAILURE(receiverSends(raw));
    rig.tick(2);
    EXPECT_EQ(framedBlocks(1), std::vector<std::string>{raw});
    EXPECT_EQ(newestLogText(), LINE_B) << "lines are still shown";
}

// A received block is a command only when it is exactly the command: with more
// bytes, fewer bytes, two commands, or a command split over two reads, the mode
// stays as it was.
TEST_F(LiveLinksTest, BlocksThatAreNotExactlyACommandChangeNothing) {
    struct Case {
        int rawBefore;
        std::vector<std::string> blocks;  // each sent and read on its own
    };
    const std::vector<Case> cases = {
        {0, {RAW_ON + "X"}},
        {0, {RAW_ON + RAW_OFF + RAW_ON}},
        {0, {"#SET OUT DATE ORIGINAL"}},
        {0, {"#SET OUT DATE ORIG", "INAL\r\n"}},
        {0, {"#set out date original\r\n"}},
        {1, {RAW_OFF + "\r\n"}},
        {1, {"#SET OUT DATE TEXT\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blocks.front());
        ASSERT_NO_FATAL_FAILURE(consumerSays(c.rawBefore != 0 ? RAW_ON : RAW_OFF));
        ASSERT_EQ(rig.relay.sender().rawPassThrough(), c.rawBefore);
        for (const std::string& block : c.blocks) ASSERT_NO_FATAL_FAILURE(consumerSays(block));
        EXPECT_EQ(rig.relay.sender().rawPassThrough(), c.rawBefore);
    }
}

// A read that finds the connection closed (0 bytes) or failing changes nothing:
// the link stays up, its status and no-data count as they were, until the close
// event itself drops it. Only the low 16 bits of an event word name the event.
TEST_F(LiveLinksTest, ReadsThatBringNothingChangeNothingUntilTheClose) {
    for (int link : {LINK_SOURCE, LINK_CONSUMER}) {
        SCOPED_TRACE(link == LINK_SOURCE ? "source" : "consumer");
        auto handle = [&](int socket, int event) {
            if (link == LINK_SOURCE) {
                rig.relay.handleSourceEvent(socket, event);
            } else {
                rig.relay.handleConsumerEvent(socket, event);
            }
        };
        const int socket = rig.socketOf(link);
        const std::string status = rig.status(link);
        rig.tick(3);
        const int ticks = rig.relay.noDataTicks();
        (link == LINK_SOURCE ? receiver : feed).close();
        ASSERT_TRUE(rig.host.runUntil([&] { return pendingSocketEvent(socket) == FD_CLOSE; }, 5s));

        handle(socket, FD_READ);  // recv gives 0
        handle(-1, FD_READ);      // recv fails
        handle(socket, 2);        // not an event of ours
        EXPECT_EQ(rig.state(link), LINK_UP);
        EXPECT_EQ(rig.socketOf(link), socket);
        EXPECT_EQ(rig.status(link), status);
        EXPECT_EQ(rig.relay.noDataTicks(), ticks);

        handle(socket, FD_CLOSE | (10054 << 16));  // a close with an error code
        EXPECT_EQ(rig.state(link), LINK_DOWN);
        EXPECT_EQ(rig.status(link), "Связь разорвана");
        EXPECT_EQ(rig.host.watchedSocket(link), -1);
    }
}

// The batch clock runs only while compression is on, and it is what lets a
// batch go: lines given before more than compressTicks ticks have passed wait;
// the tick after that takes them all out in one frame, with no further line.
TEST_F(LiveLinksTest, BatchClockAdvancesOnlyWithCompressionOnAndReleasesTheBatch) {
    rig.tick(5);
    EXPECT_EQ(rig.relay.sender().batchTicks(), 0);
    rig.relay.editSettings([&](RelaySettings& s) { s.compressEnabled = 1; });
    rig.relay.editSettings([&](RelaySettings& s) { s.compressTicks = 3; });
    rig.tick(3);
    EXPECT_EQ(rig.relay.sender().batchTicks(), 3);

    ASSERT_NO_FATAL_FAILURE(receiverSends(LINE_A));
    rig.host.pump(100ms);
    EXPECT_TRUE(feed.readAvailable());
    EXPECT_EQ(feed.received(), HANDSHAKE) << "3 ticks are not more than 3";

    ASSERT_NO_FATAL_FAILURE(receiverSends(LINE_B));
    rig.tick();
    EXPECT_EQ(framedBlocks(1), (std::vector<std::string>{LINE_A + LINE_B}));
    EXPECT_EQ(rig.relay.sender().batchTicks(), 0);

    rig.relay.editSettings([&](RelaySettings& s) { s.compressEnabled = 0; });
    rig.tick(4);
    EXPECT_EQ(rig.relay.sender().batchTicks(), 0);
}

// A binary record of type '2' as the receiver sends it, with the given signal
// level: 0x1A, type, a 6-byte timestamp, the level, a 7-byte message.
std::string record(unsigned char level) {
    return std::string(
               "\x1a"
               "2"
               "\0\0\x12\x34\x56\x78",
               8) +
           static_cast<char>(level) + "\x5d\x48\x40\xd6\x20\x2c\xc3";
}

// The figures behind the periodic summary: lines finished, held back by the
// signal threshold, handed to the consumer; the bytes its socket took, and with
// compression the bytes compressed and the frames they made; the connections
// made and lost on each link. A line finished while the consumer is down is
// received but not forwarded.
TEST_F(LiveLinksTest, TrafficCountsFollowWhatTheRelayDid) {
    rig.relay.editSettings([&](RelaySettings& s) {
        s.binaryMode = 1;
        s.signalThreshold = 0x30;
    });
    const std::string LINE = "@0000123456785D4840D6202CC3;\r\n";
    ASSERT_NO_FATAL_FAILURE(receiverSends(record(0x40) + record(0x20) + record(0x30)));
    ASSERT_TRUE(readUntil(HANDSHAKE.size() + 2 * LINE.size()));
    const TrafficCounts plain = rig.relay.trafficCounts();
    EXPECT_EQ(plain.linesReceived, 3u);
    EXPECT_EQ(plain.linesHeldBack, 1u);
    EXPECT_EQ(plain.linesForwarded, 2u);
    EXPECT_EQ(plain.bytesSent, 2 * LINE.size()) << "the handshake is not counted";
    EXPECT_EQ(plain.bytesCompressed, 0u);
    for (int link : {LINK_SOURCE, LINK_CONSUMER}) {
        EXPECT_EQ(plain.connectionsMade[static_cast<std::size_t>(link)], 1u);
        EXPECT_EQ(plain.connectionsLost[static_cast<std::size_t>(link)], 0u);
    }

    rig.relay.editSettings([&](RelaySettings& s) {
        s.compressEnabled = 1;
        s.compressTicks = 0;
    });
    ASSERT_NO_FATAL_FAILURE(
        receiverSends(record(0x40) + record(0x40) + record(0x40) + record(0x40)));
    rig.tick(2);
    // The frame's bytes, and nothing else, arrive after the two plain lines.
    const std::size_t before = HANDSHAKE.size() + 2 * LINE.size();
    const auto framedArrived = [&] {
        feed.readAvailable();
        const std::uint64_t framed = rig.relay.trafficCounts().framedBytes;
        return framed > 0 && feed.received().size() - before == framed;
    };
    EXPECT_TRUE(rig.host.runUntil(framedArrived, 5s)) << feed.received().size() - before;
    const TrafficCounts compressed = rig.relay.trafficCounts();
    EXPECT_EQ(compressed.bytesCompressed, 4 * LINE.size());
    EXPECT_EQ(compressed.framesSent, 1u);
    EXPECT_EQ(compressed.bytesSent - plain.bytesSent, compressed.framedBytes);
    EXPECT_LT(compressed.framedBytes, compressed.bytesCompressed) << "four equal lines compress";

    rig.relay.editSettings([&](RelaySettings& s) {
        s.binaryMode = 0;
        s.compressEnabled = 0;
    });
    feed.close();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 5s));
    ASSERT_NO_FATAL_FAILURE(receiverSends(LINE_A));
    rig.relay.dropLink(LINK_CONSUMER);  // not up: no second loss
    ASSERT_NO_FATAL_FAILURE(connectConsumer());
    const TrafficCounts after = rig.relay.trafficCounts();
    EXPECT_EQ(after.linesReceived, 8u);
    EXPECT_EQ(after.linesForwarded, 6u);
    EXPECT_EQ(after.connectionsMade[LINK_CONSUMER], 2u);
    EXPECT_EQ(after.connectionsLost[LINK_CONSUMER], 1u);
    EXPECT_EQ(after.connectionsLost[LINK_SOURCE], 0u);
}

// What a connection got after its handshake, read as frames, each inflated.
std::vector<std::string> inflatedFrames(std::string_view wire) {
    std::vector<std::string> blocks;
    sink::FrameReader reader([&](const std::string& inflated) { blocks.push_back(inflated); });
    reader.feed(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
    EXPECT_EQ(reader.strayBytes(), 0u);
    return blocks;
}

struct ModeSwitchCase {
    const char* name;
    std::int32_t RelaySettings::*flag;  // flipped by the switch; null: no switch
    bool consumerDownFirst;             // the consumer has closed before the switch
    const char* nextModeLine;
    std::vector<std::string> oldFrames;  // the old connection's frames after its handshake
    std::string nextStream;              // the next one's lines (inflated when compressed)
    std::uint64_t batchesDropped;
};

void PrintTo(const ModeSwitchCase& c, std::ostream* out) {
    *out << c.name;
}

class ModeSwitchTest : public LiveLinksTest,
                       public ::testing::WithParamInterface<ModeSwitchCase> {};

const std::string BINARY_LINE = "@0000123456785D4840D6202CC3;\r\n";
constexpr auto BINARY = &RelaySettings::binaryMode;
constexpr auto COMPRESS = &RelaySettings::compressEnabled;

const ModeSwitchCase MODE_SWITCHES[] = {
    {"BinaryOnWhileUp", BINARY, false, "#BINARY:COMPRESS", {LINE_A}, BINARY_LINE, 0},
    {"BinaryOnWhileDown", BINARY, true, "#BINARY:COMPRESS", {}, BINARY_LINE, 1},
    {"CompressionOffWhileUp", COMPRESS, false, "#TEXT", {LINE_A}, LINE_B, 0},
    {"CompressionOffWhileDown", COMPRESS, true, "#TEXT", {}, LINE_B, 1},
    {"NoSwitch", nullptr, true, "#TEXT:COMPRESS", {}, LINE_A + LINE_B, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, ModeSwitchTest, ::testing::ValuesIn(MODE_SWITCHES),
                         [](const ::testing::TestParamInfo<ModeSwitchCase>& param) {
                             return param.param.name;
                         });

// A text line waits in the compression batch when the operator switches the stream
// mode (the toggle changes the setting, then drops a live consumer). No connection
// gets a line of a mode its handshake did not announce: the batch goes out framed
// on the old connection before it closes, or, with the consumer down already, is
// dropped and counted. An ordinary drop with the mode unchanged keeps the batch for
// the next connection.
TEST_P(ModeSwitchTest, NoConnectionGetsALineOfAModeItsHandshakeDidNotAnnounce) {
    const ModeSwitchCase& c = GetParam();
    rig.relay.editSettings([](RelaySettings& s) {
        s.compressEnabled = 1;
        s.compressTicks = 3;
    });
    ASSERT_NO_FATAL_FAILURE(receiverSends(LINE_A));
    ASSERT_EQ(rig.relay.sender().batchLength(), static_cast<int>(LINE_A.size()));

    Peer old = std::move(feed);
    if (c.consumerDownFirst) {
        old.close();
        ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 5s));
    }
    if (c.flag != nullptr) {
        rig.relay.editSettings([&](RelaySettings& s) { s.*c.flag = s.*c.flag != 0 ? 0 : 1; });
        if (!c.consumerDownFirst) rig.relay.dropLink(LINK_CONSUMER);
    }
    if (!c.consumerDownFirst) {
        ASSERT_TRUE(rig.host.runUntil([&] { return !old.readAvailable(); }, 5s));
    }
    EXPECT_EQ(inflatedFrames(std::string_view(old.received()).substr(HANDSHAKE.size())),
              c.oldFrames);
    EXPECT_EQ(rig.relay.trafficCounts().batchesDropped, c.batchesDropped);

    feed = rig.connect(LINK_CONSUMER, peers.consumer);
    const std::string handshake = STATION + c.nextModeLine + "\r\n";
    ASSERT_TRUE(readUntil(handshake.size()));
    ASSERT_EQ(feed.received(), handshake);
    ASSERT_NO_FATAL_FAILURE(
        receiverSends(rig.relay.settings().binaryMode != 0 ? record(0x40) : LINE_B));
    rig.tick(4);
    if (rig.relay.settings().compressEnabled != 0) {
        EXPECT_EQ(framedBlocks(1, handshake.size()), std::vector<std::string>{c.nextStream});
    } else {
        ASSERT_TRUE(readUntil(handshake.size() + c.nextStream.size()));
        EXPECT_EQ(feed.received().substr(handshake.size()), c.nextStream);
    }
}

}  // namespace
}  // namespace velgor::test
