#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "config/cp1251.h"
#include "config/cp1251_literal.h"

namespace velgor {
namespace {

// cp1251<u8"Ω"> does not compile: it calls the non-constexpr characterWithoutWindows1251Form().
static_assert(cp1251Encodable(u8"Ёё № €") && !cp1251Encodable(u8"Ω") && !cp1251Encodable(u8"漢") &&
              !cp1251Encodable(u8"\u0098") && !cp1251Encodable(u8"\xC0\x80"));

// Printable ASCII, then 0x80..0xFF but 0x98 (a no-break space at 0xA0, a soft hyphen at 0xAD).
constexpr char8_t CODE_PAGE[] =
    u8" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    u8"[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—™љ›њќћџ\u00A0ЎўЈ¤Ґ¦§Ё©Є«"
    u8"¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕїАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";

TEST(Cp1251, BothConvertersGiveEveryCharacterItsByteAndRoundTrip) {
    std::string expected;
    for (int b = 0x20; b <= 0xFF; ++b)
        if (b != 0x7F && b != 0x98) expected += static_cast<char>(b);
    const std::string_view utf8(reinterpret_cast<const char*>(CODE_PAGE));
    EXPECT_EQ(cp1251<CODE_PAGE>, expected);
    EXPECT_EQ(utf8ToCp1251(utf8), expected);
    EXPECT_EQ(cp1251ToUtf8(expected), utf8);
    EXPECT_EQ(std::string(cp1251<u8"Ёё№€ Яа СОМ">), "\xA8\xB8\xB9\x88 \xDF\xE0 \xD1\xCE\xCC");
}

}  // namespace
}  // namespace velgor
