#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/recording_outlet.h"
#include "decode/source_decoder.h"

namespace velgor {
namespace {

using Lines = std::vector<std::string>;

class TextDecoderTest : public ::testing::Test {
  protected:
    void feed(const std::string& data, int binaryMode = 0) {
        settings.binaryMode = binaryMode;
        decoder.decodeSourceBlock(reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()));
    }

    RelaySettings settings;
    test::RecordingOutlet outlet;
    SourceDecoder decoder{settings, outlet};
};

TEST_F(TextDecoderTest, TakesStarAtAndMsgLinesAndDropsTheRest) {
    using namespace std::string_literals;
    struct Case {
        std::string input;
        Lines expected;
    };
    const std::vector<Case> cases = {
        {"*8D4840D6202CC371C32CE0576098;\r\n", {"*8D4840D6202CC371C32CE0576098;\r\n"}},
        {"@0000123456785D4840D6202CC3;\n", {"@0000123456785D4840D6202CC3;\r\n"}},
        {"MSG,3,1,1,4D2023,1\n", {"MSG,3,1,1,4D2023,1\r\n"}},
        {"MS\nM\nMSx\n#*x\n x\n\r\n\n", {}},
        {"*a\r*b\n", {"*a\r\n", "*b\r\n"}},
        {"*ab\0cd;\n"s, {"*ab\r\n"}},  // a NUL cuts the line
        {"\0*ab\n"s, {}},              // a line beginning with NUL counts as empty
        {"MSG\n", {"MSG\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        test::RecordingOutlet out;
        SourceDecoder d(settings, out);
        d.decodeSourceBlock(reinterpret_cast<const unsigned char*>(c.input.data()),
                            static_cast<int>(c.input.size()));
        EXPECT_EQ(out.forwarded, c.expected);
        EXPECT_EQ(out.shown, c.expected);  // text lines are never filtered
        EXPECT_EQ(out.finished, static_cast<int>(c.expected.size()));
        EXPECT_FALSE(out.broken);
        EXPECT_EQ(d.fillCount(), 0);
    }
}

TEST_F(TextDecoderTest, LongLinesAreForwardedWholeUpTo1022Characters) {
    for (std::size_t length : {125u, 126u, 127u, 500u, 1022u}) {
        SCOPED_TRACE(length);
        std::string line = std::string("*").append(length - 1, 'x');
        feed(line + "\r\n");
        ASSERT_FALSE(outlet.forwarded.empty());
        EXPECT_EQ(outlet.forwarded.back(), line + "\r\n");
        EXPECT_EQ(outlet.shown.back(), line + "\r\n");
    }
    EXPECT_EQ(outlet.forwarded.size(), 5u);
}

TEST_F(TextDecoderTest, ALineReaching1023CharactersLosesThemAndGoesOnAsANewLine) {
    feed(std::string("*").append(1022, 'x'));
    EXPECT_EQ(decoder.fillCount(), 0);
    feed("*tail\n");
    EXPECT_EQ(outlet.forwarded, Lines{"*tail\r\n"});

    feed(std::string("*").append(1030, 'y') + "\n");  // its rest begins with 'y': dropped
    EXPECT_EQ(outlet.forwarded.size(), 1u);
}

TEST_F(TextDecoderTest, HalfAssembledBytesCarryOverModeSwitches) {
    feed("*8D4");
    feed("CA", 1);  // plain bytes in binary mode pile up in the same buffer
    feed("5;\n");
    EXPECT_EQ(outlet.forwarded, Lines{"*8D4CA5;\r\n"});

    // A record head collected as text completes as a record in binary mode.
    settings.signalThreshold = 70;
    feed(std::string("\x1A\x32\x00\x00\x12\x34", 6));
    feed(std::string("\x56\x78\x40\x5D\x48\x40\xD6\x20\x2C\xC3", 10), 1);
    EXPECT_EQ(outlet.shown.back(), "@0000123456785D4840D6202CC3;\r\n");
    EXPECT_EQ(outlet.forwarded.size(), 1u) << "level 0x40 is below the threshold of 70";
}

TEST_F(TextDecoderTest, ABufferSaturatedInBinaryModeEndsAsOneWholeLine) {
    settings.signalThreshold = 0;
    feed(std::string("*").append(1500, 'z'), 1);
    EXPECT_EQ(decoder.fillCount(), SourceDecoder::MAX_FILL);
    feed("\n");
    const std::string expected = std::string("*").append(1022, 'z') + "\r\n";
    ASSERT_EQ(outlet.forwarded, Lines{expected});
    EXPECT_EQ(outlet.shown, Lines{expected});

    // Without a line end the saturated buffer is restarted, not overrun.
    feed(std::string("*").append(1500, 'z'), 1);
    feed("ab*c\n");
    EXPECT_EQ(outlet.forwarded.size(), 1u);
    EXPECT_EQ(decoder.fillCount(), 0);
}

}  // namespace
}  // namespace velgor
