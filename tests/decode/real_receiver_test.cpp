#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "decode/recording_outlet.h"
#include "decode/source_decoder.h"
#include "support/receiver.h"

namespace velgor {
namespace {

using Lines = std::vector<std::string>;

// Decodes a whole stream, cut into blocks at the given offsets.
Lines decodeStream(const std::string& stream, int binaryMode,
                   const std::vector<std::size_t>& cuts = {}) {
    RelaySettings settings;
    settings.binaryMode = binaryMode;
    settings.signalThreshold = 0;
    test::RecordingOutlet outlet;
    SourceDecoder decoder(settings, outlet);
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    std::size_t from = 0;
    for (std::size_t to : cuts) {
        decoder.decodeSourceBlock(bytes + from, static_cast<int>(to - from));
        from = to;
    }
    decoder.decodeSourceBlock(bytes + from, static_cast<int>(stream.size() - from));
    EXPECT_EQ(outlet.forwarded, outlet.shown) << "threshold 0 forwards every line";
    EXPECT_FALSE(outlet.broken);
    return outlet.shown;
}

Lines withCrLf(const Lines& lines) {
    Lines out;
    for (const std::string& line : lines) out.push_back(line + "\r\n");
    return out;
}

class RealReceiverTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        withTimestamps_ = new test::ReceiverRun(test::captureReceiverRun());
        test::ReceiverOptions plain;
        plain.mlat = false;
        withoutTimestamps_ = new test::ReceiverRun(test::captureReceiverRun(plain));
    }
    static void TearDownTestSuite() {
        delete withTimestamps_;
        delete withoutTimestamps_;
    }
    void SetUp() override {
        ASSERT_TRUE(withTimestamps_->complete) << withTimestamps_->error;
        ASSERT_TRUE(withoutTimestamps_->complete) << withoutTimestamps_->error;
    }

    static test::ReceiverRun* withTimestamps_;
    static test::ReceiverRun* withoutTimestamps_;
};

test::ReceiverRun* RealReceiverTest::withTimestamps_ = nullptr;
test::ReceiverRun* RealReceiverTest::withoutTimestamps_ = nullptr;

// The receiver serves every message on both ports, Mode A/C replies (type
// '1' records) included, so the two agree line for line: same timestamps, same
// messages, same order.
TEST_F(RealReceiverTest, BinaryStreamDecodesToTheAtLinesOfTheRawPort) {
    const std::string& binary = withTimestamps_->binary;
    const Lines decoded = decodeStream(binary, 1);
    const Lines served = withCrLf(test::splitLines(withTimestamps_->raw));
    ASSERT_FALSE(served.empty());
    EXPECT_EQ(decoded.size(), served.size());
    const auto mismatch =
        std::mismatch(decoded.begin(), decoded.end(), served.begin(), served.end());
    EXPECT_TRUE(mismatch.first == decoded.end() && mismatch.second == served.end())
        << "first difference at line " << (mismatch.first - decoded.begin());

    // The stream exercises every rule that matters: all three record types and
    // doubled escapes.
    std::size_t byLength[3] = {0, 0, 0};
    for (const std::string& line : decoded) {
        byLength[0] += line.size() == 20;
        byLength[1] += line.size() == 30;
        byLength[2] += line.size() == 44;
    }
    EXPECT_EQ(byLength[0] + byLength[1] + byLength[2], decoded.size());
    EXPECT_GT(byLength[0], 0u);
    EXPECT_GT(byLength[1], 0u);
    EXPECT_GT(byLength[2], 0u);
    EXPECT_NE(binary.find("\x1A\x1A"), std::string::npos);
}

TEST_F(RealReceiverTest, TextStreamsAreTakenWhole) {
    struct Stream {
        const char* name;
        const std::string& text;
        const char* prefix;
    };
    const Stream streams[] = {
        {"'@' lines", withTimestamps_->raw, "@"},
        {"'*' lines", withoutTimestamps_->raw, "*"},
        {"MSG lines", withTimestamps_->sbs, "MSG,"},
    };
    for (const Stream& s : streams) {
        SCOPED_TRACE(s.name);
        const Lines served = test::splitLines(s.text);
        ASSERT_FALSE(served.empty());
        for (const std::string& line : served) ASSERT_EQ(line.rfind(s.prefix, 0), 0u) << line;
        EXPECT_EQ(decodeStream(s.text, 0), withCrLf(served));
    }
    // The same messages with and without timestamps.
    const Lines at = test::splitLines(withTimestamps_->raw);
    const Lines star = test::splitLines(withoutTimestamps_->raw);
    ASSERT_EQ(at.size(), star.size());
    for (std::size_t i = 0; i < at.size(); ++i) ASSERT_EQ(at[i].substr(13), star[i].substr(1));
}

TEST_F(RealReceiverTest, RandomBlockSplitsGiveTheSameLinesAsOneBlock) {
    // Many passes of the real streams, so that records and lines are cut at
    // every kind of place.
    std::string binary, text;
    for (int i = 0; i < 8; ++i) {
        binary += withTimestamps_->binary;
        text += withTimestamps_->sbs + withoutTimestamps_->raw;
    }
    std::mt19937 random(20240607);
    for (const auto& [stream, mode] : {std::pair{&binary, 1}, std::pair{&text, 0}}) {
        const Lines whole = decodeStream(*stream, mode);
        for (int round = 0; round < 40; ++round) {
            std::vector<std::size_t> cuts;
            std::uniform_int_distribution<std::size_t> block(1, round % 2 == 0 ? 8 : 3000);
            for (std::size_t at = block(random); at < stream->size(); at += block(random)) {
                cuts.push_back(at);
            }
            ASSERT_EQ(decodeStream(*stream, mode, cuts), whole)
                << "mode " << mode << " round " << round;
        }
    }
}

}  // namespace
}  // namespace velgor
