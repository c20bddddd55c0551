#include <gtest/gtest.h>

#include <string>

#include "config/cp1251.h"

namespace velgor {
namespace {

TEST(Cp1251, RussianAlphabetRoundTrips) {
    const std::string upper = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
    const std::string lower = "абвгдеёжзийклмнопрстуфхцчшщъыьэюя";
    const std::string bytes = utf8ToCp1251(upper + lower);
    ASSERT_EQ(bytes.size(), 66u);  // one byte per letter

    // А..Я are 0xC0..0xDF and а..я 0xE0..0xFF, with Ё at 0xA8 and ё at 0xB8.
    std::string expected;
    for (int b = 0xC0; b <= 0xDF; ++b) {
        expected += static_cast<char>(b);
        if (b == 0xC5) expected += '\xA8';  // Ё after Е
    }
    for (int b = 0xE0; b <= 0xFF; ++b) {
        expected += static_cast<char>(b);
        if (b == 0xE5) expected += '\xB8';  // ё after е
    }
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(cp1251ToUtf8(bytes), upper + lower);
}

}  // namespace
}  // namespace velgor
