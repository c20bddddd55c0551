#pragma once

#include <cstddef>

#include "config/cp1251_table.h"

// Windows-1251 texts written readably in the source:
//
//     constexpr auto& CAPTION = cp1251<u8"Ошибка">;  // const char (&)[7]: CE F8 E8 E1 EA E0 00
//
// The UTF-8 literal is converted while compiling; cp1251<...> is a NUL-terminated
// char array in static storage, so it serves wherever a string literal did: as
// const char*, std::string_view or std::string, and in constexpr tables. Only
// u8 literals are taken, so that the bytes read do not depend on the
// compiler's execution character set.
//
// A character that Windows-1251 lacks (or malformed UTF-8) does not compile:
// the conversion then calls characterWithoutWindows1251Form(), which is not
// constexpr, and the compiler reports that call as the reason why the text is
// not a constant expression. cp1251Encodable() answers the same question as a
// predicate.
//
// (Not a user-defined literal u8"..."_cp1251: clang 14 crashes printing a
// string literal operator template that takes a class type, and it prints
// expressions even for notes nobody sees, e.g. while trying to constant-
// initialize a std::string from one.)

namespace velgor {

namespace cp1251_detail {

// A u8 string literal as a template argument; `units` holds its terminating NUL.
template <std::size_t N>
struct Utf8Literal {
    char8_t units[N];

    consteval Utf8Literal(const char8_t (&text)[N]) {  // NOLINT: implicit by design
        for (std::size_t i = 0; i < N; ++i) units[i] = text[i];
    }
};

// One character of a UTF-8 text: its Windows-1251 byte and how many code units
// it took; units is 0 for malformed UTF-8 and for a character without a byte.
struct Cp1251Char {
    char byte;
    std::size_t units;
};

constexpr Cp1251Char cp1251CharAt(const char8_t* text, std::size_t size, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t units = 1;
    char32_t codePoint = lead;
    char32_t least = 0;  // the smallest code point that may take this many units
    if (lead >= 0xF0 && lead < 0xF8) {
        units = 4;
        codePoint = lead & 0x07u;
        least = 0x10000;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        units = 3;
        codePoint = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xC0 && lead < 0xE0) {
        units = 2;
        codePoint = lead & 0x1Fu;
        least = 0x80;
    } else if (lead >= 0x80) {
        return {0, 0};  // a continuation byte, or no UTF-8 lead byte at all
    }
    if (at + units > size) return {0, 0};
    for (std::size_t k = 1; k < units; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0u) != 0x80u) return {0, 0};
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    if (codePoint < least) return {0, 0};  // overlong
    const int byte = cp1251Byte(codePoint);
    if (byte < 0) return {0, 0};
    return {static_cast<char>(byte), units};
}

}  // namespace cp1251_detail

// Whether every character of a UTF-8 text (a literal: its last unit is the
// NUL) has a Windows-1251 byte. Malformed UTF-8 has none. cp1251<...> compiles
// exactly for the texts this accepts.
template <std::size_t N>
constexpr bool cp1251Encodable(const char8_t (&utf8)[N]) {
    for (std::size_t at = 0; at < N - 1;) {
        const cp1251_detail::Cp1251Char c = cp1251_detail::cp1251CharAt(utf8, N - 1, at);
        if (c.units == 0) return false;
        at += c.units;
    }
    return true;
}

namespace cp1251_detail {

// Not constexpr: reaching it while converting a text is the compile error.
inline void characterWithoutWindows1251Form() {}

// The number of Windows-1251 bytes of a text.
template <std::size_t N>
consteval std::size_t cp1251Length(const char8_t (&utf8)[N]) {
    if (!cp1251Encodable(utf8)) characterWithoutWindows1251Form();
    std::size_t length = 0;
    for (std::size_t at = 0; at < N - 1; ++length) at += cp1251CharAt(utf8, N - 1, at).units;
    return length;
}

}  // namespace cp1251_detail

// A converted text: its Windows-1251 bytes and a NUL, N bytes in all.
template <std::size_t N>
struct Cp1251Text {
    char bytes[N];
};

template <cp1251_detail::Utf8Literal S>
consteval auto toCp1251Text() {
    constexpr std::size_t size = sizeof S.units - 1;  // without the NUL
    constexpr std::size_t length = cp1251_detail::cp1251Length(S.units);
    Cp1251Text<length + 1> text{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const cp1251_detail::Cp1251Char c = cp1251_detail::cp1251CharAt(S.units, size, at);
        text.bytes[i] = c.byte;
        at += c.units;
    }
    return text;
}

// Each translation unit has its own arrays, as it has its own string literals;
// the names, which spell out the whole text, stay out of the exported symbols.
namespace {

template <cp1251_detail::Utf8Literal S>
constexpr auto CP1251_TEXT = toCp1251Text<S>();

template <cp1251_detail::Utf8Literal S>
constexpr const auto& cp1251 = CP1251_TEXT<S>.bytes;

}  // namespace

}  // namespace velgor
