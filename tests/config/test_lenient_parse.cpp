#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "config/lenient_parse.h"

namespace velgor {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

struct IntCase {
    std::string text;
    std::int32_t expected;
};

TEST(ParseLenientInt, FollowsTheDecimalRule) {
    const IntCase cases[] = {
        {"", 0},
        {"abc", 0},
        {"42", 42},
        {" \t\v\f\r\n 42", 42},  // every C white space is skipped, line ends included
        {"+5", 5},
        {"-17x", -17},
        {"7777 words", 7777},
        {"12\r\n", 12},
        {"- 5", 0},   // the sign must touch the digits
        {"0x1A", 0},  // no hexadecimal
        {"3.9", 3},
        {"\xA0"
         "5",
         0},  // a Windows-1251 no-break space is not white space
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseLenientInt(c.text.c_str()), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(parseLenientInt(nullptr), 0);
}

TEST(ParseLenientInt, SaturatesBeyondThe32BitRange) {
    const IntCase cases[] = {
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"99999999999", kMax},
        {"18446744073709551617", kMax},  // would wrap to 1 in 64 bits
        {"-18446744073709551617", kMin},
        {std::string(5000, '9'), kMax},
        {std::string(4000, '0') + "12", 12},  // leading zeros are not an overflow
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseLenientInt(c.text.c_str()), c.expected) << c.text.substr(0, 40);
    }
}

TEST(PortFromInt, KeepsTheLow16Bits) {
    const struct {
        std::int32_t value;
        std::uint16_t port;
    } cases[] = {{7777, 7777}, {65535, 65535}, {65536, 0},    {70000, 4464},
                 {-1, 65535},  {0, 0},         {kMax, 65535}, {kMin, 0}};
    for (const auto& c : cases) EXPECT_EQ(portFromInt(c.value), c.port) << c.value;
}

struct RealCase {
    std::string text;
    double expected;
};

void expectReals(const RealCase* begin, const RealCase* end) {
    for (const RealCase* c = begin; c != end; ++c) {
        EXPECT_DOUBLE_EQ(parseLenientReal(c->text.c_str()), c->expected) << '"' << c->text << '"';
    }
}

TEST(ParseLenientReal, FollowsTheDecimalRule) {
    const RealCase cases[] = {
        {"47.1982", 47.1982},
        {"  -39.6282\r\n", -39.6282},
        {"+1.5", 1.5},
        {"47,5", 47.0},  // the comma ends the number
        {".5", 0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"2.5E-2", 0.025},
        {"1e", 1.0},  // an exponent without digits is not part of the number
        {"1e+", 1.0},
        {"7 words", 7.0},
        {"", 0.0},
        {".", 0.0},
        {"abc", 0.0},
        {"inf", 0.0},  // words and hexadecimal are not numbers here
        {"nan", 0.0},
        {"0x10", 0.0},
        {"1e-999", 0.0},
        {"0.000" + std::string(400, '0') + "1", 0.0},
        {"1" + std::string(400, '0') + ".5e-395", 1e5},
    };
    expectReals(std::begin(cases), std::end(cases));
    EXPECT_EQ(parseLenientReal(nullptr), 0.0);
}

TEST(ParseLenientReal, OverflowGivesInfinityWithItsSign) {
    EXPECT_EQ(parseLenientReal("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLenientReal("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLenientReal(std::string(400, '9').c_str()),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLenientReal("1e99999999999999999999"), std::numeric_limits<double>::infinity());
}

// Under a locale whose decimal separator is a comma, "." must still be the
// separator and "," must still end the number.
TEST(ParseLenientReal, IgnoresTheProcessLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const char* names[] = {"ru_RU.UTF-8", "ru_RU.utf8",   "de_DE.UTF-8",
                           "de_DE.utf8",  "ru_RU.CP1251", "de_DE"};
    const char* chosen = nullptr;
    for (const char* name : names) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
    const double withPoint = parseLenientReal("47.1982");
    const double withComma = parseLenientReal("47,5");
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_DOUBLE_EQ(withPoint, 47.1982) << chosen;
    EXPECT_DOUBLE_EQ(withComma, 47.0) << chosen;
}

TEST(CutAtLineEnd, EndsAtTheFirstCrOrLf) {
    const struct {
        std::string text;
        std::string cut;
    } cases[] = {
        {"host\n", "host"}, {"host\r\n", "host"}, {"a\rb\nc", "a"}, {"a\nb\rc", "a"},
        {"\r\n", ""},       {"plain", "plain"},   {"", ""},         {"x y\t\n", "x y\t"},
    };
    for (const auto& c : cases) {
        std::string buffer = c.text;
        cutAtLineEnd(buffer.data());
        EXPECT_EQ(std::string(buffer.c_str()), c.cut);
    }
    cutAtLineEnd(nullptr);  // must not crash
}

}  // namespace
}  // namespace velgor
