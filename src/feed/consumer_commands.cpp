#include "feed/consumer_commands.h"

#include <cstddef>

namespace velgor {

ConsumerCommand consumerCommandOf(const char* block, int count) {
    if (block == nullptr || count <= 0) return ConsumerCommand::None;
    const std::string_view received(block, static_cast<std::size_t>(count));
    if (received == CONSUMER_COMMAND_RAW_OUTPUT) return ConsumerCommand::RawOutput;
    if (received == CONSUMER_COMMAND_TEXT_OUTPUT) return ConsumerCommand::TextOutput;
    return ConsumerCommand::None;
}

}  // namespace velgor
