#include "feed/frame_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace velgor {
namespace {

using Bytes = std::vector<unsigned char>;

// Frames `payload` in a buffer of exactly the room promised for it, so that the
// address sanitizer sees any write past it.
Bytes framed(unsigned char type, const Bytes& payload) {
    Bytes buffer(frameCapacityFor(payload.size()));
    std::copy(payload.begin(), payload.end(), buffer.begin());
    std::size_t length = payload.size();
    EXPECT_TRUE(frameBlock(type, buffer.data(), length));
    buffer.resize(std::min(length, buffer.size()));
    return buffer;
}

Bytes frameOf(const Bytes& lengthField, const Bytes& payload) {
    Bytes frame;
    for (const Bytes& part :
         {Bytes{0x10, 0x02, 0x65}, lengthField, Bytes{0x00}, payload, Bytes{0x10, 0x03}}) {
        for (unsigned char byte : part) frame.push_back(byte);
    }
    return frame;
}

TEST(FrameBlock, DoublesEveryDleBetweenStartAndEnd) {
    EXPECT_EQ(framed(COMPRESSED_BLOCK, {0x78, 0x9C, 0x10, 0xAB, 0x03}),
              (Bytes{0x10, 0x02, 0x65, 0x00, 0x09, 0x00, 0x78, 0x9C, 0x10, 0x10, 0xAB, 0x03, 0x10,
                     0x03}));
    EXPECT_EQ(framed(COMPRESSED_BLOCK, {}), frameOf({0x00, 0x04}, {}));
    EXPECT_EQ(framed(0x10, {0x01}),
              (Bytes{0x10, 0x02, 0x10, 0x10, 0x00, 0x05, 0x00, 0x01, 0x10, 0x03}));
}

TEST(FrameBlock, LengthFieldCountsUndoubledBytesAndDoublesADleByte) {
    struct Case {
        std::size_t payload;
        Bytes lengthField;  // as sent
    };
    for (const Case& c : {Case{12, {0x00, 0x10, 0x10}}, Case{268, {0x01, 0x10, 0x10}},
                          Case{4092, {0x10, 0x10, 0x00}}, Case{4108, {0x10, 0x10, 0x10, 0x10}},
                          Case{65531, {0xFF, 0xFF}}}) {
        const Bytes payload(c.payload, 0xAB);
        EXPECT_EQ(framed(COMPRESSED_BLOCK, payload), frameOf(c.lengthField, payload)) << c.payload;
    }
}

TEST(FrameBlock, AllDleBlocksStayWithinTheWorstCaseRoom) {
    // Type 0x10 and a length field of 0x1010: every byte but the zero byte doubles.
    const std::size_t payload = 0x1010 - FRAME_HEADER_BYTES;
    EXPECT_EQ(framed(0x10, Bytes(payload, 0x10)).size(), 2 + 2 * 3 + 1 + 2 * payload + 2);
    EXPECT_LE(framed(COMPRESSED_BLOCK, Bytes(FRAME_PAYLOAD_MAX, 0x10)).size(), FRAME_BYTES_MAX);
}

TEST(FrameBlock, PayloadTooLongForTheLengthFieldIsRefusedUntouched) {
    Bytes buffer(frameCapacityFor(FRAME_PAYLOAD_MAX + 1), 0x10);
    const Bytes before = buffer;
    std::size_t length = FRAME_PAYLOAD_MAX + 1;
    EXPECT_FALSE(frameBlock(COMPRESSED_BLOCK, buffer.data(), length));
    EXPECT_EQ(length, FRAME_PAYLOAD_MAX + 1);
    EXPECT_EQ(buffer, before);
}

}  // namespace
}  // namespace velgor
