#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "sys/socket_calls.h"
#include "sys/unique_fd.h"

namespace velgor {

// How an attempt's blocking step ended.
enum class AttemptStep { Done, Failed, Stopped };

// How often a waiting attempt looks at its stop request.
inline constexpr std::chrono::milliseconds ATTEMPT_STOP_POLL{50};
// How long one address of a host may take to answer before the next is tried.
// Long enough for three SYN retransmissions to a server far away; short enough
// that an address that swallows connects does not hide the ones after it for
// the system's whole connect time-out (minutes).
inline constexpr std::chrono::seconds CONNECT_LIMIT_PER_ADDRESS{10};

// The addresses a link's host text stands for: a dotted IPv4 address or an IPv6
// address (plain, "::1", or in brackets, "[::1]") as it is; any other bracketed
// text fails without a look-up; otherwise every address `lookUp` gives for the
// name, in its order. A slow name look-up never holds up a stop request: it is
// left to finish on its own and its answer is dropped. Given a token no stop can
// come through, the look-up runs on the calling thread.
[[nodiscard]] AttemptStep resolveHost(const char* host, std::stop_token stop, NameLookUp lookUp,
                                      std::vector<IpAddress>& addresses);

// A new TCP socket of the family (close-on-exec), or an invalid one.
[[nodiscard]] UniqueFd createTcpSocket(AddressFamily family = AddressFamily::IPv4);
// Switches off send coalescing (TCP_NODELAY); failures are ignored.
void disableNagle(int socket);
// Connects, giving up once `limit` has passed or at once when a stop is requested.
[[nodiscard]] AttemptStep connectAddress(int socket, const IpAddress& address, std::uint16_t port,
                                         std::stop_token stop, std::chrono::milliseconds limit);
// Tries the addresses in turn, each on a socket of its own (coalescing off) and
// with `limitEach`, until one answers: `socket` then holds that connection and
// `used` its address. `socket` may come in holding an unused IPv4 socket, which
// the first IPv4 address takes.
[[nodiscard]] AttemptStep connectFirstAnswering(std::span<const IpAddress> addresses,
                                                std::uint16_t port, std::stop_token stop,
                                                std::chrono::milliseconds limitEach,
                                                UniqueFd& socket, IpAddress& used);
// Makes the socket non-blocking. Returns false on failure.
[[nodiscard]] bool makeNonBlocking(int socket);

}  // namespace velgor
