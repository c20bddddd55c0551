#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode/recording_outlet.h"
#include "decode/source_decoder.h"

namespace velgor {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<unsigned char>(v));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A record as the receiver sends it: 0x1A, type, then the body with every
// 0x1A doubled.
Bytes escapedRecord(unsigned char type, const Bytes& body) {
    Bytes out{0x1A, type};
    for (unsigned char b : body) {
        out.push_back(b);
        if (b == 0x1A) out.push_back(0x1A);
    }
    return out;
}

// The example record: timestamp 00 00 12 34 56 78, level 0x40, a 7-byte message.
const Bytes EXAMPLE_BODY =
    bytes({0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x40, 0x5D, 0x48, 0x40, 0xD6, 0x20, 0x2C, 0xC3});
const std::string EXAMPLE_LINE = "@0000123456785D4840D6202CC3;\r\n";

class BinaryDecoderTest : public ::testing::Test {
  protected:
    BinaryDecoderTest() { settings.binaryMode = 1; }
    void feed(const Bytes& data) {
        decoder.decodeSourceBlock(data.data(), static_cast<int>(data.size()));
    }

    RelaySettings settings;
    test::RecordingOutlet outlet;
    SourceDecoder decoder{settings, outlet};
};

TEST_F(BinaryDecoderTest, RecordsOfTheThreeTypesBecomeTheirLines) {
    feed(escapedRecord('2', EXAMPLE_BODY));
    feed(escapedRecord('1', bytes({0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0xFF, 0x0A, 0x0D})));
    feed(escapedRecord('3', bytes({0x00, 0x00, 0x00, 0x00, 0x18, 0xFA, 0x2B, 0x8F, 0x4D, 0x20, 0x23,
                                   0x58, 0x7F, 0x34, 0x5E, 0x35, 0x83, 0x7E, 0x22, 0x18, 0xB2})));
    const std::vector<std::string> expected = {
        EXAMPLE_LINE,
        "@ABCDEF0123450A0D;\r\n",
        "@0000000018FA8F4D2023587F345E35837E2218B2;\r\n",
    };
    EXPECT_EQ(outlet.shown, expected);
    EXPECT_EQ(outlet.shown[1].size(), 20u);
    EXPECT_EQ(outlet.shown[2].size(), 44u);
    EXPECT_EQ(outlet.finished, 3);
    EXPECT_FALSE(outlet.broken);
    EXPECT_EQ(decoder.fillCount(), 0);
}

TEST_F(BinaryDecoderTest, SignalFilterComparesUnsigned) {
    struct Case {
        int level;
        std::int32_t threshold;
        bool forwarded;
    };
    const Case cases[] = {
        {0x40, 50, true},  {0x40, 65, false},  {0x40, 64, true},         {0x00, 0, true},
        {0xFF, 255, true}, {0xFF, 256, false}, {0xFF, -1, false},        {0x00, INT32_MIN, false},
        {0x40, 0, true},   {0x3F, 64, false},  {0xFF, INT32_MAX, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << " threshold " << c.threshold);
        test::RecordingOutlet out;
        RelaySettings s;
        s.binaryMode = 1;
        s.signalThreshold = c.threshold;
        SourceDecoder d(s, out);
        Bytes body = EXAMPLE_BODY;
        body[6] = static_cast<unsigned char>(c.level);
        const Bytes record = escapedRecord('2', body);
        d.decodeSourceBlock(record.data(), static_cast<int>(record.size()));
        EXPECT_EQ(out.forwarded.size(), c.forwarded ? 1u : 0u);
        // Filtered or not, the record is shown and counts as data.
        EXPECT_EQ(out.shown, std::vector<std::string>{EXAMPLE_LINE});
        EXPECT_EQ(out.finished, 1);
        if (c.forwarded) {
            EXPECT_EQ(out.forwarded[0], EXAMPLE_LINE);
        }
    }
}

TEST_F(BinaryDecoderTest, DoubledEscapesInsideARecordYieldOneByteEach) {
    // Timestamp 1A 00 1A 1A 00 01 (one lone data 1A, then two in a row).
    feed(escapedRecord('2', bytes({0x1A, 0x00, 0x1A, 0x1A, 0x00, 0x01, 0x1A, 0x5D, 0x1A, 0x40, 0xD6,
                                   0x20, 0x2C, 0xC3})));
    EXPECT_EQ(outlet.shown, std::vector<std::string>{"@1A001A1A00015D1A40D6202CC3;\r\n"});
}

TEST_F(BinaryDecoderTest, EscapeFollowedByANonTypeByteStaysAsData) {
    feed(bytes({0x55, 0x1A, '4'}));
    EXPECT_EQ(decoder.fillCount(), 3);
    EXPECT_EQ(decoder.lineBuffer()[1], 0x1A);
    EXPECT_EQ(decoder.lineBuffer()[2], '4');
    EXPECT_EQ(decoder.lastSourceByte(), '4');
    EXPECT_TRUE(outlet.shown.empty());

    // Inside a record the lone 1A and the '4' are both message bytes.
    feed(bytes({0x1A, '1', 0, 0, 0, 0, 0, 1, 0x80, 0x1A, '4'}));
    EXPECT_EQ(outlet.shown, std::vector<std::string>{"@0000000000011A34;\r\n"});
}

TEST_F(BinaryDecoderTest, ARecordStartAbandonsAnUnfinishedRecord) {
    Bytes cut = escapedRecord('2', EXAMPLE_BODY);
    cut.resize(cut.size() - 2);
    feed(cut + escapedRecord('3', Bytes(21, 0x11)));
    EXPECT_EQ(outlet.shown,
              std::vector<std::string>{"@1111111111111111111111111111111111111111;\r\n"});
}

TEST_F(BinaryDecoderTest, AnEscapeArrivingForTheLastByteCompletesTheRecord) {
    // A type '1' record lacking its last byte, then the next record's 1A 32.
    feed(bytes({0x1A, '1', 0, 0, 0, 0, 0, 2, 0x80, 0x77}) + escapedRecord('2', EXAMPLE_BODY));
    EXPECT_EQ(outlet.shown, (std::vector<std::string>{"@000000000002771A;\r\n", EXAMPLE_LINE}));
}

TEST_F(BinaryDecoderTest, DataEscapeThenTypeByteWhenTheBufferHoldsOnlyThatEscape) {
    // The doubled 1A is a data byte, but it is then the buffer's first byte
    // and the '2' after it stored as data: the buffer reads as a record start.
    feed(bytes({0x1A, 0x1A, '2'}) + EXAMPLE_BODY);
    EXPECT_EQ(outlet.shown, std::vector<std::string>{EXAMPLE_LINE});
}

TEST_F(BinaryDecoderTest, LooseBytesSaturateTheBufferWithoutOverrun) {
    feed(Bytes(3000, 0x55));
    EXPECT_EQ(decoder.fillCount(), SourceDecoder::MAX_FILL);
    EXPECT_TRUE(outlet.shown.empty());
    feed(escapedRecord('2', EXAMPLE_BODY));
    EXPECT_EQ(outlet.shown, std::vector<std::string>{EXAMPLE_LINE});
}

TEST_F(BinaryDecoderTest, EmptyAndNegativeCountsDoNothing) {
    feed(bytes({0x1A, '2', 0x01}));
    const Bytes more = bytes({0x02, 0x03});
    decoder.decodeSourceBlock(more.data(), 0);
    decoder.decodeSourceBlock(more.data(), -5);
    decoder.decodeSourceBlock(nullptr, 10);
    EXPECT_EQ(decoder.fillCount(), 3);
    EXPECT_EQ(decoder.lastSourceByte(), 0x01);
}

// Records with escapes everywhere a split could hurt, with loose bytes between.
Bytes trickyStream() {
    return bytes({0x00, 0x1A, '9'}) + escapedRecord('1', bytes({1, 2, 3, 4, 5, 6, 7, 0x1A, 9})) +
           escapedRecord('2', bytes({0x1A, 0x1A, 0x1A, 0x1A, 0, 0, 0x1A, 1, 2, 3, 4, 5, 6, 0x1A})) +
           bytes({0x1A, '2', 1, 2}) +  // cut short by the next record
           escapedRecord('3', Bytes(21, 0x1A)) + escapedRecord('2', EXAMPLE_BODY);
}

std::vector<std::string> decodeInPieces(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    RelaySettings s;
    s.binaryMode = 1;
    test::RecordingOutlet out;
    SourceDecoder d(s, out);
    std::size_t from = 0;
    for (std::size_t to : cuts) {
        d.decodeSourceBlock(stream.data() + from, static_cast<int>(to - from));
        from = to;
    }
    d.decodeSourceBlock(stream.data() + from, static_cast<int>(stream.size() - from));
    return out.shown;
}

TEST(BinaryDecoderSplitTest, ARecordSplitAtAnyByteDecodesAsInOneBlock) {
    const Bytes stream = trickyStream();
    const std::vector<std::string> whole = decodeInPieces(stream, {});
    const std::vector<std::string> expected = {
        "@0102030405061A09;\r\n",
        "@1A1A1A1A00000102030405061A;\r\n",
        "@1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A;\r\n",
        EXAMPLE_LINE,
    };
    ASSERT_EQ(whole, expected);
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(decodeInPieces(stream, {cut}), whole);
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(decodeInPieces(stream, everyByte), whole);
}

}  // namespace
}  // namespace velgor
