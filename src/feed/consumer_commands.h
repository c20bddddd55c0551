#pragma once

#include <string_view>

namespace velgor {

// The two commands a consumer may send back. A received block is a command only
// when it holds exactly the command's bytes, CR LF included.
inline constexpr std::string_view CONSUMER_COMMAND_RAW_OUTPUT = "#SET OUT DATE ORIGINAL\r\n";
inline constexpr std::string_view CONSUMER_COMMAND_TEXT_OUTPUT = "#SET OUT DATE TEXT\r\n";

enum class ConsumerCommand {
    None,        // not a command: ignored
    RawOutput,   // forward the source bytes as received
    TextOutput,  // forward the decoded lines
};

ConsumerCommand consumerCommandOf(const char* block, int count);

}  // namespace velgor
