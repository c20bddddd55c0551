#include "links/link_drop.h"

#include <cstring>

#include "feed/consumer_outbox.h"

namespace velgor {

static_assert(CONSUMER_AGE_LIMIT == std::chrono::seconds{10}, "the cause's text names the limit");

std::string describeDrop(const LinkDrop& drop) {
    std::string text;
    switch (drop.cause) {
        case DropCause::Operator:
            text = "ended by the operator's change";
            break;
        case DropCause::PeerClosed:
            text = "closed by the far end";
            break;
        case DropCause::ConnectionError:
            text = "connection failed";
            break;
        case DropCause::Watchdog:
            text = "no line for longer than the no-data limit (watchdog)";
            break;
        case DropCause::ConsumerStalled:
            text = "the consumer took nothing for 4.5 s";
            break;
        case DropCause::ConsumerBehind:
            text = "a line waited 10 s for the consumer";
            break;
        case DropCause::ConsumerOverflow:
            text = "more waited for the consumer than its queue holds";
            break;
        case DropCause::SendFailed:
            text = "a send failed";
            break;
    }
    if (drop.error != 0) text += std::string(": ") + std::strerror(drop.error);
    return text;
}

}  // namespace velgor
