#include "sink/feed_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/cp1251.h"
#include "config/cp1251_literal.h"
#include "sink/test_framer.h"

namespace velgor::sink {
namespace {

using test::bytesOf;
using test::ByteString;
using test::frame;
using test::zlibCompress;

struct Listener : FeedListener {
    int handshakes = 0;
    Handshake received;
    std::vector<std::string> lines;

    void handshake(const Handshake& h) override {
        ++handshakes;
        received = h;
    }
    void line(Bytes bytes) override { lines.emplace_back(bytes.begin(), bytes.end()); }
    void rawBytes(Bytes) override {}
};

std::string handshakeText(const std::string& mode) {
    return cp1251<u8"#Кервала\r\n#47.000000\r\n#-2.000000\r\n#"> + mode + "\r\n";
}

const std::string LINE_1 = "@0000123456785D4840D6202CC3;\r\n";
const std::string LINE_2 = "*8D4840D6202CC371C32CE0576098;\r\n";
const std::string LINE_3 = "*02E197B00A9D2D;\r\n";

ByteString operator+(ByteString a, const ByteString& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(FeedStream, HandshakeAndLinesOrFramesCutAnywhere) {
    struct Case {
        const char* name;
        ByteString wire;
        bool compressed;
        std::uint64_t frames;
    };
    const Case cases[] = {
        {"plain lines", bytesOf(handshakeText("BINARY") + LINE_1 + LINE_2 + LINE_3), false, 0},
        {"two compressed frames",
         bytesOf(handshakeText("BINARY:COMPRESS")) + frame(zlibCompress(LINE_1 + LINE_2)) +
             frame(zlibCompress(LINE_3)),
         true, 2},
    };
    for (const Case& c : cases) {
        for (std::size_t cut = 0; cut <= c.wire.size(); ++cut) {
            Listener listener;
            FeedStream stream(listener);
            stream.feed(Bytes(c.wire.data(), cut));
            stream.feed(Bytes(c.wire.data() + cut, c.wire.size() - cut));
            stream.finish();
            SCOPED_TRACE(std::string(c.name) + ", cut at " + std::to_string(cut));
            ASSERT_EQ(listener.handshakes, 1);
            ASSERT_EQ(listener.lines, (std::vector<std::string>{LINE_1, LINE_2, LINE_3}));
            ASSERT_EQ(stream.compressed(), c.compressed);
            ASSERT_EQ(stream.frames(), c.frames);
            ASSERT_EQ(stream.badFrames() + stream.strayBytes() + stream.rawBytes(), 0u);
            ASSERT_EQ(cp1251ToUtf8(listener.received.field(0)), "Кервала");
            ASSERT_EQ(listener.received.field(1), "47.000000");
            ASSERT_EQ(listener.received.field(2), "-2.000000");
        }
    }
}

TEST(FeedStream, TheModeLineDecidesWhetherDataIsFramed) {
    struct Case {
        std::string mode;
        bool compressed;
        bool known;
    };
    const Case cases[] = {
        {"#TEXT", false, true},         {"#BINARY", false, true},
        {"#TEXT:COMPRESS", true, true}, {"#BINARY:COMPRESS", true, true},
        {"#BINARY:ZIP", false, false},  {"BINARY:COMPRESS", true, false},
    };
    for (const Case& c : cases) {
        Listener listener;
        FeedStream stream(listener);
        stream.feed(bytesOf("#N\r\n#1\r\n#2\r\n" + c.mode + "\r\n"));
        stream.feed(c.compressed ? frame(zlibCompress(LINE_3)) : bytesOf(LINE_3));
        EXPECT_EQ(stream.compressed(), c.compressed) << c.mode;
        EXPECT_EQ(listener.received.knownMode(), c.known) << c.mode;
        EXPECT_EQ(listener.received.allMarked(), c.mode.front() == '#') << c.mode;
        EXPECT_EQ(listener.lines, std::vector<std::string>{LINE_3}) << c.mode;
    }
}

}  // namespace
}  // namespace velgor::sink
