#pragma once

#include <chrono>

#include "sys/socket_ops.h"

namespace velgor {

// The send loop's retry policy: at most 16 sends, 300 ms apart.
inline constexpr int SEND_ATTEMPTS_MAX = 16;
inline constexpr std::chrono::milliseconds SEND_RETRY_PAUSE{300};

// Sends `length` bytes on `socket`, one send at a time. A send that fails or sends
// only part of what is left counts as an attempt and is followed by a 300 ms pause
// (on the calling thread); after the 16th such attempt whatever is left is dropped.
// With the invalid socket (-1) the loop stops after its first attempt and pause.
// Returns the number of failed or partial attempts, 0..16. A negative length sends
// nothing.
[[nodiscard]] int sendWithRetry(SocketOps& ops, int socket, const char* data, int length);

}  // namespace velgor
