#pragma once

#include <cstdint>

#include "config/fixed_text.h"

namespace velgor {

// Indexes of the three link slots.
enum LinkIndex : int { LINK_LOCAL = 0, LINK_SOURCE = 1, LINK_CONSUMER = 2 };
inline constexpr int LINK_COUNT = 3;

// Where a link connects to. The link table keeps one per link; the settings
// files fill them.
struct LinkEndpoint {
    std::uint16_t port = 0;
    Text256 host{"127.0.0.1"};
};

inline constexpr std::uint16_t DEFAULT_LOCAL_PORT = 9999;
inline constexpr std::uint16_t DEFAULT_SOURCE_PORT = 7777;
inline constexpr std::uint16_t DEFAULT_CONSUMER_PORT = 8888;

}  // namespace velgor
