#include "feed/consumer_handshake.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/cp1251.h"
#include "feed/feed_test_support.h"

namespace velgor {
namespace {

using test::LoopbackPair;
using test::RecordingOps;

HandshakeValues values(std::string_view name, double latitudeDegrees, double longitudeDegrees,
                       int binary, int compress) {
    RelaySettings settings;
    settings.stationName = name;
    settings.stationLatitude = latitudeDegrees * ARC_SECONDS_PER_DEGREE;
    settings.stationLongitude = longitudeDegrees * ARC_SECONDS_PER_DEGREE;
    settings.binaryMode = binary;
    settings.compressEnabled = compress;
    return handshakeValuesOf(settings);
}

std::vector<std::string> sendsOf(const HandshakeValues& v) {
    RecordingOps ops;
    sendConsumerHandshake(ops, 5, v);
    return ops.sends;
}

TEST(ConsumerHandshake, KervalaIsFourSeparateSendsThatArriveOnARealSocket) {
    const HandshakeValues kervala = values("Kervala", 47, -2, 1, 1);
    const std::vector<std::string> lines{"#Kervala\r\n", "#47.000000\r\n", "#-2.000000\r\n",
                                         "#BINARY:COMPRESS\r\n"};
    EXPECT_EQ(sendsOf(kervala), lines);

    LoopbackPair pair;
    sendConsumerHandshake(systemSocketOps(), pair.sender, kervala);
    const std::string expected = lines[0] + lines[1] + lines[2] + lines[3];
    EXPECT_EQ(pair.readPeer(expected.size() + 1, std::chrono::milliseconds(500)), expected);
}

TEST(ConsumerHandshake, ModeLineForEveryFlagCombination) {
    struct Case {
        int binary;
        int compress;
        const char* line;
    };
    for (const Case& c :
         {Case{0, 0, "#TEXT\r\n"}, Case{0, 1, "#TEXT:COMPRESS\r\n"}, Case{1, 0, "#BINARY\r\n"},
          Case{1, 1, "#BINARY:COMPRESS\r\n"}, Case{-7, 2, "#BINARY:COMPRESS\r\n"}}) {
        EXPECT_EQ(sendsOf(values("x", 0, 0, c.binary, c.compress)).at(3), c.line)
            << c.binary << "/" << c.compress;
    }
}

TEST(ConsumerHandshake, CoordinatesPrintAsDegreesWithSixDecimals) {
    struct Case {
        double arcSeconds;
        const char* line;
    };
    for (const Case& c :
         {Case{47.1982 * 3600, "#47.198200\r\n"}, Case{39.6282 * 3600, "#39.628200\r\n"},
          Case{0.0, "#0.000000\r\n"}, Case{-0.0001, "#-0.000000\r\n"},
          Case{-90 * 3600.0, "#-90.000000\r\n"}, Case{1.8, "#0.000500\r\n"}, Case{1e300, nullptr},
          Case{-1.7e308, nullptr}}) {
        HandshakeValues v = values("x", 0, 0, 0, 0);
        v.stationLatitude = c.arcSeconds;
        // Whatever the value, the line is what "#%.6f\r\n" makes in the "C" locale.
        char reference[400];
        std::snprintf(reference, sizeof reference, "#%.6f\r\n",
                      c.arcSeconds * 0.0002777777777777778);
        const std::string line = sendsOf(v).at(1);
        EXPECT_EQ(line, reference);
        if (c.line != nullptr) {
            EXPECT_EQ(line, c.line);
        }
    }
}

TEST(ConsumerHandshake, NameBytesPassUnchangedAndALongNameIsCutTo252) {
    const std::string russian = utf8ToCp1251("Кервала");
    EXPECT_EQ(sendsOf(values(russian, 0, 0, 0, 0)).at(0), "#" + russian + "\r\n");

    const std::string exact(252, 'n');
    EXPECT_EQ(sendsOf(values(exact, 0, 0, 0, 0)).at(0), "#" + exact + "\r\n");

    std::string longest(255, 'a');
    longest.replace(252, 3, "XYZ");
    EXPECT_EQ(sendsOf(values(longest, 0, 0, 0, 0)).at(0), "#" + std::string(252, 'a') + "\r\n");
}

#ifdef VELGOR_TEST_LOCALE_DIR
TEST(ConsumerHandshake, DecimalPointStaysAPointUnderACommaLocale) {
    setenv("LOCPATH", VELGOR_TEST_LOCALE_DIR, 1);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "no comma locale could be made";
    }
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.1f", 0.5);
    const std::vector<std::string> sends = sendsOf(values("x", 47.5, -2.25, 0, 0));
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");

    ASSERT_STREQ(printed, "0,5");  // the locale is in force: printf would print commas
    EXPECT_EQ(sends.at(1), "#47.500000\r\n");
    EXPECT_EQ(sends.at(2), "#-2.250000\r\n");
}
#endif

}  // namespace
}  // namespace velgor
