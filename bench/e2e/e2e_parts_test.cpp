// The harness's own reading of the recorded streams and of its figures: if these
// are wrong, a correct relay is reported as losing or corrupting data, or a
// latency is matched with the wrong write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/recorded_stream.h"
#include "e2e/run_stats.h"

namespace velgor::e2e {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

// The worked record: type '2', timestamp 00 00 12 34 56 78, level 0x40, message
// 5D 48 40 D6 20 2C C3.
const std::string TYPE2 = bytes(
    {0x1A, '2', 0, 0, 0x12, 0x34, 0x56, 0x78, 0x40, 0x5D, 0x48, 0x40, 0xD6, 0x20, 0x2C, 0xC3});

TEST(RecordedStreamTest, SplitsWholeRecordsUndoingDoubledEscapes) {
    // A type '1' record whose timestamp holds a doubled 0x1A; stray bytes; a type
    // '3' cut short by the next record start; the worked record; a record cut off
    // by the end of the stream.
    const std::string withEscape = bytes({0x1A, '1', 0, 0x1A, 0x1A, 0, 0, 0, 1, 0x20, 0x11, 0x22});
    const std::string stream = withEscape + bytes({0x55, 0x1A, '9'}) + bytes({0x1A, '3', 1, 2, 3}) +
                               TYPE2 + TYPE2.substr(0, 9);
    const std::vector<BinaryRecord> records = splitBinaryRecords(stream);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].wire, withEscape);
    EXPECT_EQ(records[0].length, 11u);
    EXPECT_EQ(records[0].body[3], 0x1A);
    EXPECT_EQ(records[0].body[4], 0);
    EXPECT_EQ(recordLine(records[0]), "@001A000000011122;\r\n");
    EXPECT_EQ(records[1].wire, TYPE2);
    EXPECT_EQ(recordLine(records[1]), "@0000123456785D4840D6202CC3;\r\n");
}

// Serials that hold 0x1A bytes must be escaped on the wire and read back whole,
// from the record and from the line made of it.
TEST(RecordedStreamTest, SerialsSurviveEscapingAndComeBackFromLines) {
    const BinaryRecord record = splitBinaryRecords(TYPE2).front();
    for (const std::uint64_t serial : {1ULL, 0x1AULL, 0x1A1A1A1A1A1AULL, 0xFFFFFFFFFFFFULL}) {
        SCOPED_TRACE(serial);
        const std::string wire = recordWithSerial(record, serial);
        const std::vector<BinaryRecord> back = splitBinaryRecords(wire);
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].wire, wire);
        EXPECT_EQ(bodySerial(back[0].body.data()), serial);
        std::uint64_t fromLine = 0;
        ASSERT_TRUE(lineSerial(recordLine(back[0]), fromLine));
        EXPECT_EQ(fromLine, serial);
    }
    std::uint64_t unused = 0;
    EXPECT_FALSE(lineSerial("MSG,3,1,1,4CA2D6,1,2024/01/01", unused));
    EXPECT_FALSE(lineSerial("@00001234567", unused));
}

TEST(RecordedStreamTest, TextWorkloadKeepsTakenLinesAndExpectsThemWithCrLf) {
    const Workload w = textWorkload("MSG,1,a\r\nSTA,x\r\n*8D48;\n\r\nMS,2\nMSG,3,cut");
    EXPECT_EQ(w.unitsPerPass, 2u);
    EXPECT_EQ(w.pass, "MSG,1,a\r\n*8D48;\n");
    EXPECT_EQ(w.expectedPass, "MSG,1,a\r\n*8D48;\r\n");
}

TEST(RunStatsTest, NearestRankQuantilesAndMedians) {
    std::vector<std::int64_t> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    const LatencySummary s = summarizeLatency(hundred);
    EXPECT_EQ(s.p50Ns, 50);
    EXPECT_EQ(s.p99Ns, 99);
    EXPECT_EQ(s.maxNs, 100);
    EXPECT_EQ(s.samples, 100u);
    const LatencySummary one = summarizeLatency({7});
    EXPECT_EQ(one.p50Ns, 7);
    EXPECT_EQ(one.p99Ns, 7);
    EXPECT_EQ(median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(median({4.0, 1.0, 2.0, 3.0}), 2.5);
    EXPECT_EQ(median({}), 0.0);
}

}  // namespace
}  // namespace velgor::e2e
