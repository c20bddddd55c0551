#pragma once

// Socket addresses of either family as the platform's calls take them; for the
// seam's own files (and tests that make raw calls), which include the platform's
// headers anyway.
#ifdef _WIN32
#include "sys/win/winsock_fd.h"
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>

#include "sys/socket_calls.h"

namespace velgor {

struct NativeAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

[[nodiscard]] NativeAddress nativeAddress(const IpAddress& address, std::uint16_t port);
// False for a family other than IPv4 and IPv6.
[[nodiscard]] bool fromNativeAddress(const sockaddr* native, IpAddress& address,
                                     std::uint16_t& port);
[[nodiscard]] int nativeFamily(AddressFamily family);

}  // namespace velgor
