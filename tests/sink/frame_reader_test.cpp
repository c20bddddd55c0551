#include "sink/frame_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sink/test_framer.h"

namespace velgor::sink {
namespace {

using test::bytesOf;
using test::ByteString;
using test::frame;
using test::zlibCompress;

struct Reader {
    std::vector<std::string> blocks;
    FrameReader reader{[this](const std::string& block) { blocks.push_back(block); }};

    void feed(const ByteString& bytes) { reader.feed(bytes.data(), bytes.size()); }
};

ByteString joined(std::initializer_list<ByteString> parts) {
    ByteString all;
    for (const ByteString& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(FrameReader, InflatesBlocksWhoseLengthOrPayloadHoldsDle) {
    // Stored (level 0) zlib streams are the data + 11 bytes: these blocks give the
    // length fields 0x000F (an empty batch), 0x0010, 0x0110 and 0x1000, each 0x10
    // byte of which is doubled on the wire, as are the payload's. First, the test's
    // framer against a frame written out by hand.
    EXPECT_EQ(frame({0x78, 0x9C, 0x10, 0xAB, 0x03}),
              (ByteString{0x10, 0x02, 0x65, 0x00, 0x09, 0x00, 0x78, 0x9C, 0x10, 0x10, 0xAB, 0x03,
                          0x10, 0x03}));
    for (std::size_t dataLength : {0u, 1u, 257u, 4081u}) {
        std::string data(dataLength, '\x10');
        for (std::size_t i = 0; i < data.size(); i += 3) data[i] = static_cast<char>(i);
        Reader r;
        r.feed(frame(zlibCompress(data, 0)));
        EXPECT_EQ(r.reader.badFrames(), 0u) << dataLength << ": " << r.reader.lastError();
        EXPECT_EQ(r.blocks, std::vector<std::string>{data}) << dataLength;
    }
}

TEST(FrameReader, BadFramesAreCountedAndTheNextFrameIsReadAgain) {
    const ByteString good = zlibCompress("@0000123456785D4840D6202CC3;\r\n");
    ByteString tooLong(70000, 0x41);
    struct Case {
        const char* name;
        ByteString bad;
        const char* error;
    };
    const Case cases[] = {
        {"wrong type", frame(good, -1, 100), "type"},
        {"length too small", frame(good, static_cast<int>(good.size()) + 3), "length"},
        {"length too large", frame(good, static_cast<int>(good.size()) + 5), "length"},
        {"non-zero fourth byte",
         [&] {
             ByteString f = frame(good);
             f[5] = 1;
             return f;
         }(),
         "zero"},
        {"shorter than a header", {0x10, 0x02, 0x65, 0x00, 0x10, 0x03}, "shorter"},
        {"single DLE inside", {0x10, 0x02, 0x65, 0x10, 0x41, 0x00, 0x10, 0x03}, "single DLE"},
        {"not zlib", frame(bytesOf("not a zlib stream")), "zlib"},
        {"zlib with trailing bytes", frame(joined({good, {0x00}})), "zlib"},
        {"content beyond 16-bit length", frame(tooLong, 0xFFFF), "longer"},
        {"inflates beyond 1 MiB", frame(zlibCompress(std::string(2u << 20, 'x'))), "zlib"},
    };
    for (const Case& c : cases) {
        Reader r;
        r.feed(joined({c.bad, frame(good)}));
        EXPECT_EQ(r.reader.badFrames(), 1u) << c.name;
        EXPECT_NE(r.reader.lastError().find(c.error), std::string::npos)
            << c.name << ": " << r.reader.lastError();
        ASSERT_EQ(r.blocks.size(), 1u) << c.name;
        EXPECT_EQ(r.blocks[0], "@0000123456785D4840D6202CC3;\r\n") << c.name;
    }
}

TEST(FrameReader, BytesOutsideFramesAreStray) {
    // Unframed bytes between frames (as a relay sends when a flush cannot be
    // compressed), including a DLE not followed by STX.
    Reader r;
    r.feed(joined({bytesOf("*8D4840D6;\r\n"),
                   frame(zlibCompress("a")),
                   {0x10, 0x41, 0x10, 0x10},
                   frame(zlibCompress("b"))}));
    EXPECT_EQ(r.reader.strayBytes(), 12u + 4u);
    EXPECT_EQ(r.reader.framesRead(), 2u);
    EXPECT_EQ(r.reader.badFrames(), 0u);
}

}  // namespace
}  // namespace velgor::sink
