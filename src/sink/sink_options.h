#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velgor::sink {

inline constexpr std::uint16_t DEFAULT_SINK_PORT = 8888;
inline constexpr char DEFAULT_SINK_BIND[] = "127.0.0.1";

struct SinkOptions {
    std::uint16_t port = DEFAULT_SINK_PORT;  // 0: any free port (printed at start)
    std::string bindAddress = DEFAULT_SINK_BIND;
    bool countOnly = false;
    bool many = false;    // serve every connection at once instead of one at a time
    std::string outFile;  // empty: none
    std::optional<std::uint64_t> rawAfter;   // send the ORIGINAL command after N lines
    std::optional<std::uint64_t> textAfter;  // send the TEXT command after N lines
    bool help = false;
};

struct ParsedOptions {
    SinkOptions options;
    std::string error;  // empty when the arguments were good
};

// Parses the arguments after the program name. "--opt value" and "--opt=value"
// are both accepted.
[[nodiscard]] ParsedOptions parseSinkOptions(std::span<const char* const> args);

// The text printed for --help.
std::string sinkUsage(const std::string& programName);

}  // namespace velgor::sink
