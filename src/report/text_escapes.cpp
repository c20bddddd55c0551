#include "report/text_escapes.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace velgor {
namespace {

constexpr std::size_t NUMBER_TEXT_MAX = 40;
constexpr char HEX_DIGITS[] = "0123456789abcdef";

template <typename... Format>
void appendChars(std::string& out, Format... format) {
    std::array<char, NUMBER_TEXT_MAX> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), format...);
    out.append(digits.data(), result.ptr);
}

}  // namespace

void appendJsonString(std::string& out, std::string_view utf8) {
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\u00";
                    out += HEX_DIGITS[byte >> 4];
                    out += HEX_DIGITS[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void appendLabelValue(std::string& out, std::string_view utf8) {
    out += '"';
    for (const char c : utf8) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendNumber(std::string& out, double value) {
    appendChars(out, value);
}

void appendNumber(std::string& out, std::uint64_t value) {
    appendChars(out, value);
}

void appendSeconds(std::string& out, double seconds) {
    constexpr int MILLISECOND_DIGITS = 3;
    appendChars(out, seconds, std::chars_format::fixed, MILLISECOND_DIGITS);
}

}  // namespace velgor
