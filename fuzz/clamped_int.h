#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

namespace velgor::fuzz {

// The number a settings line gives, worked out the plain way: the text up to its
// first NUL read by strtoll, clamped to 32 bits.
inline std::int32_t clampedInt32(std::string_view text) {
    const std::string cText(text.substr(0, text.find('\0')));
    const long long value = std::strtoll(cText.c_str(), nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace velgor::fuzz
