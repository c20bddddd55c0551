#include "config/lenient_parse.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace velgor {
namespace {

// The C locale's white space, spelled out so that no locale can change it.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

const char* skipDigits(const char* p) {
    while (isDigit(*p)) ++p;
    return p;
}

// Where the decimal number that starts at p ends ([digits][.digits] with at
// least one digit, then an exponent only if it has digits); p when none starts.
const char* endOfDecimalNumber(const char* p) {
    const char* q = skipDigits(p);
    bool anyDigit = q != p;
    if (*q == '.') {
        const char* fraction = q + 1;
        const char* afterFraction = skipDigits(fraction);
        anyDigit = anyDigit || afterFraction != fraction;
        q = afterFraction;
    }
    if (!anyDigit) return p;
    if (*q == 'e' || *q == 'E') {
        const char* e = q + 1;
        if (*e == '+' || *e == '-') ++e;
        if (isDigit(*e)) q = skipDigits(e);
    }
    return q;
}

// A number the converter finds out of range is either huge or tiny. Its
// magnitude follows from where its first significant digit stands and the
// exponent; the exponent is saturated so that no count can overflow.
bool isHugeMagnitude(const char* begin, const char* end) {
    long long position = 0;  // decimal position of the first significant digit
    bool seenPoint = false;
    bool seenSignificant = false;
    const char* p = begin;
    for (; p != end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            seenPoint = true;
        } else if (!seenSignificant && *p == '0') {
            if (seenPoint) --position;
        } else {
            seenSignificant = true;
            if (!seenPoint) ++position;
        }
    }
    long long exponent = 0;
    if (p != end) {
        ++p;
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        for (; p != end; ++p) {
            if (exponent < 1000000000LL) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    return position + exponent > 0;
}

}  // namespace

std::int32_t parseLenientInt(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (isSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // The magnitude stops growing once it is past the range, so it never overflows.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative) {
        return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                   : static_cast<std::int32_t>(-magnitude);
    }
    return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(magnitude);
}

double parseLenientReal(const char* text) {
    if (text == nullptr) return 0.0;
    const char* p = text;
    while (isSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const char* end = endOfDecimalNumber(p);
    if (end == p) return 0.0;
    double value = 0.0;
    // from_chars reads the C grammar without looking at the locale.
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = isHugeMagnitude(p, end) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc{}) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::uint16_t portFromInt(std::int32_t value) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

void cutAtLineEnd(char* text) {
    if (text == nullptr) return;
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n') {
            *p = '\0';
            return;
        }
    }
}

}  // namespace velgor
