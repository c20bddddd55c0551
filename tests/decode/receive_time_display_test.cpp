#include "decode/receive_time_display.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config/cp1251.h"

namespace velgor {
namespace {

constexpr std::uint64_t RATE = 12000000;

// An '@' line as the decoder makes it from a record with this timestamp.
std::string atLine(std::uint64_t count) {
    char text[64];
    std::snprintf(text, sizeof text, "@%012llX5D4840D6202CC3;\r\n",
                  static_cast<unsigned long long>(count));
    return text;
}

class ReceiveTimeDisplayTest : public ::testing::Test {
  protected:
    void show(const std::string& line) { display.displayReceivedLine(line.c_str(), line.size()); }
    // The newest stored text, in UTF-8.
    std::string newest() const { return cp1251ToUtf8(log.slotText(log.newestSlot())); }

    RelaySettings settings;
    MessageLog log;
    std::int64_t now = 1700000000;
    ReceiveTimeDisplay display{settings, log, [this] { return now; }};
};

TEST_F(ReceiveTimeDisplayTest, LinesAreStoredUnchangedOutsideRelativeTimeMode) {
    for (const std::string& line :
         {atLine(5), std::string("*8D4840D6;\r\n"), std::string("MSG,3,1\r\n")}) {
        show(line);
        EXPECT_STREQ(log.slotText(log.newestSlot()), line.c_str());
    }
    EXPECT_EQ(log.newestSlot(), 3);

    display.setRelativeTimeMode(1);
    for (const std::string& line : {std::string("*8D4840D6;\r\n"), std::string("MSG,3,1\r\n")}) {
        show(line);
        EXPECT_STREQ(log.slotText(log.newestSlot()), line.c_str());
    }
    EXPECT_EQ(display.timeReference().set, 0);
}

TEST_F(ReceiveTimeDisplayTest, DisabledDisplayStoresNothingAndTakesNoReference) {
    display.setRelativeTimeMode(1);
    display.toggleDisplayEnabled();
    show(atLine(100));
    show("*AB;\r\n");
    EXPECT_EQ(log.newestSlot(), 0);
    EXPECT_EQ(display.timeReference().set, 0);
    display.toggleDisplayEnabled();
    show(atLine(100));
    EXPECT_EQ(display.timeReference().count, 100u);
}

TEST_F(ReceiveTimeDisplayTest, ElapsedTimesInTheFormatThatTheReceiverTimeChooses) {
    struct Case {
        std::int64_t counts;   // above the reference
        std::int64_t seconds;  // computer seconds since the reference
        const char* prefix;
    };
    const std::int64_t rate = static_cast<std::int64_t>(RATE);
    const Case cases[] = {
        {0, 0, "прм = 0  комп = 0     "},
        {rate - 1, 0, "прм = 0  комп = 0     "},
        {59 * rate, 3700, "прм = 59  комп = 3700     "},
        {60 * rate, 61, "прм = 01:00  комп = 01:01     "},
        {75 * rate, 80, "прм = 01:15  комп = 01:20     "},
        {120 * rate, 4500, "прм = 02:00  комп = 75:00     "},
        {3725 * rate, 3726, "прм = 1:02:05  комп = 1:02:06     "},
        {-5 * rate, 2, "прм = -5  комп = 2     "},
        {-rate / 2, 0, "прм = 0  комп = 0     "},  // truncated toward zero, no "-0"
    };
    const std::uint64_t reference = 0x100000000000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        display.setRelativeTimeMode(0);
        display.setRelativeTimeMode(1);
        now = 1700000000;
        show(atLine(reference));
        EXPECT_EQ(newest(), std::string("прм = 0  комп = 0     ") + atLine(reference));
        now += c.seconds;
        const std::string line = atLine(reference + static_cast<std::uint64_t>(c.counts));
        show(line);
        EXPECT_EQ(newest(), std::string(c.prefix) + line);
    }
}

TEST_F(ReceiveTimeDisplayTest, SwitchingTheModeOnAgainTakesANewReference) {
    display.toggleRelativeTimeMode();
    show(atLine(1000));
    display.toggleRelativeTimeMode();
    EXPECT_EQ(display.timeReference().set, 1) << "switching off keeps the reference";
    display.toggleRelativeTimeMode();
    EXPECT_EQ(display.timeReference().set, 0);
    now += 7;
    show(atLine(1000 + 90 * RATE));
    EXPECT_EQ(newest(), std::string("прм = 0  комп = 0     ") + atLine(1000 + 90 * RATE));
}

TEST_F(ReceiveTimeDisplayTest, RateIsAnUnsignedDivisorAndZeroShowsNoReceiverTime) {
    display.setRelativeTimeMode(1);
    show(atLine(0));
    settings.timerFrequency = INT32_MIN;  // 2^31 counts per second
    show(atLine(0x100000000));
    EXPECT_EQ(newest(), std::string("прм = 2  комп = 0     ") + atLine(0x100000000));

    settings.timerFrequency = 0;
    now += 3;
    show(atLine(0x100000000));
    EXPECT_EQ(newest(), std::string("прм = ?  комп = 3     ") + atLine(0x100000000));
}

TEST(LineTimestampTest, HexFieldsStopAtTheFirstOtherCharacter) {
    struct Case {
        std::string line;
        std::uint64_t count;
    };
    const Case cases[] = {
        {"@0000123456785D48;\r\n", 0x000012345678},
        {"@ffffFFFFffff;\r\n", 0xFFFFFFFFFFFF},
        {"@00001234567G;\r\n", 0x1234567},      // low field stops at G
        {"@12G4ABCDEF01;\r\n", 0x12'ABCDEF01},  // each field on its own
        {"@12\r\n", 0x12ULL << 32},             // short line: nothing past its end
        {"@", 0},
        // No blanks, signs or 0x prefixes: " 0x1" gives 0, "23456789" the low part.
        {"@ 0x1234567890;\r\n", 0x23456789},
        {"@-123+4567890\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(lineTimestamp(c.line.c_str(), c.line.size()), c.count);
    }
    const char unterminated[] = {'@', '1', '2', '3', '4', '5'};  // read only within length
    EXPECT_EQ(lineTimestamp(unterminated, sizeof unterminated), (0x1234ULL << 32) | 5);
}

TEST_F(ReceiveTimeDisplayTest, ALongTextLineIsComposedWithoutOverrun) {
    display.setRelativeTimeMode(1);
    const std::string line = std::string("@").append(1021, '7') + "\r\n";
    show(line);
    const std::string stored = log.slotText(log.newestSlot());
    EXPECT_EQ(stored.size(), 1023u);
    EXPECT_EQ(cp1251ToUtf8(stored.substr(0, 22)), "прм = 0  комп = 0     ");
    EXPECT_EQ(stored.substr(22), line.substr(0, 1023 - 22));
}

}  // namespace
}  // namespace velgor
