#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>

#include "sys/socket_calls.h"
#include "sys/unique_fd.h"

namespace velgor {

// How an attempt's blocking step ended.
enum class AttemptStep { Done, Failed, Stopped };

// How often a waiting attempt looks at its stop request.
inline constexpr std::chrono::milliseconds ATTEMPT_STOP_POLL{50};

// Resolves a host text to an IPv4 address: first as a name (the first address
// the resolver gives), else as a dotted address. A slow name look-up never holds
// up a stop request: it is left to finish on its own and its answer is dropped.
[[nodiscard]] AttemptStep resolveIPv4(const char* host, std::stop_token stop, Ipv4Address& address);

// A new TCP socket (close-on-exec), or an invalid one.
[[nodiscard]] UniqueFd createTcpSocket();
// Switches off send coalescing (TCP_NODELAY); failures are ignored.
void disableNagle(int socket);
// Connects, waiting as long as the system's connect takes, but giving up at once
// when a stop is requested.
[[nodiscard]] AttemptStep connectIPv4(int socket, Ipv4Address address, std::uint16_t port,
                                      std::stop_token stop);
// Makes the socket non-blocking. Returns false on failure.
[[nodiscard]] bool makeNonBlocking(int socket);

}  // namespace velgor
