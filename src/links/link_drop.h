#pragma once

#include <cstddef>
#include <string>

namespace velgor {

// Why a link's connection was ended. The status line says "Связь разорвана" for
// every one of them; the cause is for the operator's diagnostics (the console
// front end prints it), so that a drop can be told from another after the fact.
enum class DropCause {
    Operator,          // a dialog or a mode switch ended it
    PeerClosed,        // the far end closed the connection
    ConnectionError,   // the connection failed (reset, unreachable, ...)
    Watchdog,          // the source delivered no line for longer than the limit
    ConsumerStalled,   // the consumer took no byte for 4.5 s while data waited
    ConsumerBehind,    // a line waited for the consumer for as long as it is worth
    ConsumerOverflow,  // more waited for the consumer than its queue may hold
    SendFailed,        // a send on the consumer link failed for good
};
inline constexpr std::size_t DROP_CAUSE_COUNT = 7;

struct LinkDrop {
    DropCause cause = DropCause::Operator;
    int error = 0;  // the system's error code, where there is one
};

// One line of English for the diagnostics: the cause, and the error's text.
std::string describeDrop(const LinkDrop& drop);

}  // namespace velgor
