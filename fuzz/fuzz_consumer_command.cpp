// Fuzzes the consumer's commands: a run of received blocks, each handed to
// handleConsumerCommand, as the relay does with each read from the consumer's
// socket. Raw pass-through must follow exactly the blocks that are
// one whole command, CR LF included, and nothing else.
//
// Input: blocks, each a length byte and that many bytes (255: the rest of the input).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/relay_settings.h"
#include "feed/consumer_commands.h"
#include "feed/consumer_sender.h"
#include "fuzz_check.h"
#include "log/message_log.h"

namespace {

// Nothing may be sent while commands are interpreted.
class NoSendOutlet : public velgor::ConsumerOutlet {
  public:
    void deliver(int, const char*, std::size_t) override {
        FUZZ_CHECK(false, "a command made a send");
    }
};

constexpr std::string_view RAW_OUTPUT = "#SET OUT DATE ORIGINAL\r\n";
constexpr std::string_view TEXT_OUTPUT = "#SET OUT DATE TEXT\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One sender for all runs (a fresh one per run costs more than the commands: the
    // sanitizer's allocator gives each new 200 KiB block fresh pages); each run
    // starts it with pass-through off, as a new sender has it.
    static velgor::RelaySettings settings;
    static velgor::MessageLog log;
    static NoSendOutlet outlet;
    static velgor::ConsumerSender sender(settings, nullptr, log, outlet);
    sender.handleConsumerCommand(TEXT_OUTPUT.data(), static_cast<int>(TEXT_OUTPUT.size()));
    FUZZ_CHECK(sender.rawPassThrough() == 0, "the text-output command did not reset");

    std::int32_t expected = 0;
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t wanted = data[offset++];
        const std::size_t left = size - offset;
        const std::size_t length = wanted == 255 || wanted > left ? left : wanted;
        const char* block = reinterpret_cast<const char*>(data + offset);
        const std::string_view received(block, length);
        offset += length;

        if (received == RAW_OUTPUT) expected = 1;
        if (received == TEXT_OUTPUT) expected = 0;
        const velgor::ConsumerCommand command =
            velgor::consumerCommandOf(block, static_cast<int>(length));
        FUZZ_CHECK((command == velgor::ConsumerCommand::RawOutput) == (received == RAW_OUTPUT),
                   "raw-output command recognised wrongly");
        FUZZ_CHECK((command == velgor::ConsumerCommand::TextOutput) == (received == TEXT_OUTPUT),
                   "text-output command recognised wrongly");
        sender.handleConsumerCommand(block, static_cast<int>(length));
        FUZZ_CHECK(sender.rawPassThrough() == expected, "raw pass-through in the wrong state");
        FUZZ_CHECK(sender.batchLength() == 0, "a command touched the batch");
    }
    return 0;
}
