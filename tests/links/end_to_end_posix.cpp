// The whole relay in-process between the real receiver (Debian's
// dump1090-mutability replaying the radio capture) and a consumer of the test's
// own: every line the decoder forwards reaches the consumer, in order, plain or
// compressed.
#include <gtest/gtest.h>
#include <zlib.h>

#include <ostream>
#include <string>
#include <vector>

#include "decode/line_outlet.h"
#include "decode/source_decoder.h"
#include "links/link_rig.h"
#include "sink/frame_reader.h"
#include "support/receiver.h"

namespace velgor::test {
namespace {

enum class Port { Binary, Raw, Sbs };

struct EndToEndCase {
    const char* name;
    Port port;
    bool mlat;  // raw port: '@' lines with timestamps, else '*' lines
    int binaryMode;
    int compress;
};

// Shown by the test framework for the parameter.
void PrintTo(const EndToEndCase& c, std::ostream* out) {
    *out << c.name;
}

std::string endToEndName(const ::testing::TestParamInfo<EndToEndCase>& param) {
    return param.param.name;
}

// The lines a decoder forwards, for the expected side of a binary stream.
class ForwardedLines : public LineOutlet {
  public:
    void forwardLine(const char* line, std::size_t length) override {
        lines.emplace_back(line, length);
    }
    void showLine(const char* /*line*/, std::size_t /*length*/) override {}
    void lineFinished() override {}
    std::vector<std::string> lines;
};

// The lines a text stream carries that the relay takes: those beginning with
// '*', '@' or "MSG", each ended with CR LF.
std::vector<std::string> takenTextLines(const std::string& stream) {
    std::vector<std::string> taken;
    for (const std::string& line : splitLines(stream)) {
        if (line[0] == '*' || line[0] == '@' || line.rfind("MSG", 0) == 0) {
            taken.push_back(line + "\r\n");
        }
    }
    return taken;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line;
    return all;
}

class EndToEndTest : public ::testing::TestWithParam<EndToEndCase> {};

INSTANTIATE_TEST_SUITE_P(
    RealReceiver, EndToEndTest,
    ::testing::Values(EndToEndCase{"BinaryPlain", Port::Binary, true, 1, 0},
                      EndToEndCase{"BinaryCompressed", Port::Binary, true, 1, 1},
                      EndToEndCase{"RawAtLinesPlain", Port::Raw, true, 0, 0},
                      EndToEndCase{"RawStarLinesCompressed", Port::Raw, false, 0, 1},
                      EndToEndCase{"SbsPlain", Port::Sbs, true, 0, 0},
                      EndToEndCase{"SbsCompressed", Port::Sbs, true, 0, 1}),
    endToEndName);

TEST_P(EndToEndTest, EveryForwardedLineReachesTheConsumerInOrder) {
    const EndToEndCase& c = GetParam();
    ReceiverOptions options;
    options.mlat = c.mlat;
    options.throttle = true;  // about 0.18 s per pass: several batches with compression
    options.replays = 3;
    Receiver receiver(options);
    ASSERT_TRUE(receiver.start()) << receiver.error();
    const std::uint16_t port = c.port == Port::Binary ? receiver.binaryPort()
                               : c.port == Port::Raw  ? receiver.rawPort()
                                                      : receiver.sbsPort();

    LinkRig rig(systemSocketOps(), &compress);
    rig.relay.editSettings([&](RelaySettings& s) {
        s.binaryMode = c.binaryMode;
        s.compressEnabled = c.compress;
        s.compressTicks = 1;
    });
    const RelaySettings& settings = rig.relay.settings();
    const RelaySettings decodeSettings = settings;
    rig.host.setTicking(true);
    Listener consumer;
    rig.setEndpoint(LINK_SOURCE, port);
    rig.setEndpoint(LINK_CONSUMER, consumer.port());

    // A client of the test's own on the same port receives the same stream.
    Peer witness(connectLoopback(port));
    ASSERT_TRUE(witness.connected());
    rig.startReconnecting();
    Peer feed = rig.acceptWhenUp(LINK_CONSUMER, consumer);
    ASSERT_TRUE(feed.connected());
    ASSERT_TRUE(rig.waitUp(LINK_SOURCE));
    // The receiver takes new clients in its main loop: give it time before the data.
    rig.host.pump(1s);
    receiver.startInput();

    // Until the receiver has served everything and the relay has read all of it
    // (it drops the source only after the data before the close).
    ASSERT_TRUE(rig.host.runUntil(
        [&] {
            feed.readAvailable();
            return !witness.readAvailable() && !rig.relay.links().isUp(LINK_SOURCE);
        },
        60s));
    rig.stopReconnecting();
    if (c.compress != 0) {
        // The last batch leaves on the tick that makes it due.
        rig.tick(settings.compressTicks + 1);
    }

    std::vector<std::string> expected;
    if (c.binaryMode != 0) {
        ForwardedLines outlet;
        SourceDecoder decoder(decodeSettings, outlet);
        const std::string& stream = witness.received();
        decoder.decodeSourceBlock(reinterpret_cast<const unsigned char*>(stream.data()),
                                  static_cast<int>(stream.size()));
        expected = outlet.lines;
    } else {
        expected = takenTextLines(witness.received());
    }
    ASSERT_GT(expected.size(), 100u) << "the replay should carry hundreds of lines";
    const std::string expectedData = joined(expected);

    const std::size_t handshakeSize = [&] {
        std::size_t end = 0;
        for (int line = 0; line < 4; ++line) end = feed.received().find('\n', end) + 1;
        return end;
    }();
    const std::string modeLine =
        std::string(c.binaryMode ? "#BINARY" : "#TEXT") + (c.compress ? ":COMPRESS" : "") + "\r\n";
    ASSERT_EQ(feed.received().substr(0, handshakeSize),
              "#Kervala\r\n#47.198200\r\n#39.628200\r\n" + modeLine);

    std::string data;
    sink::FrameReader reader([&](const std::string& inflated) { data += inflated; });
    std::size_t taken = handshakeSize;
    ASSERT_TRUE(rig.host.runUntil(
        [&] {
            feed.readAvailable();
            const std::string& wire = feed.received();
            if (c.compress != 0) {
                reader.feed(reinterpret_cast<const std::uint8_t*>(wire.data()) + taken,
                            wire.size() - taken);
            } else {
                data.append(wire, taken);
            }
            taken = wire.size();
            return data.size() >= expectedData.size();
        },
        10s))
        << data.size() << " of " << expectedData.size() << " bytes";
    EXPECT_EQ(linesOf(data), expected);
    if (c.compress != 0) {
        EXPECT_GE(reader.framesRead(), 2u);
        EXPECT_EQ(reader.badFrames(), 0u);
        EXPECT_EQ(reader.strayBytes(), 0u);
        std::printf("[ measured ] %zu lines, %zu bytes in %llu frames, %zu bytes on the wire\n",
                    expected.size(), expectedData.size(),
                    static_cast<unsigned long long>(reader.framesRead()), taken - handshakeSize);
    } else {
        std::printf("[ measured ] %zu lines, %zu bytes\n", expected.size(), expectedData.size());
    }
}

}  // namespace
}  // namespace velgor::test
