#pragma once

// Winsock for the Windows side of the seam only; no shared header includes it.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

namespace velgor {

// A SOCKET as the core holds it, and back (sign-extended, so that INVALID_FD
// becomes INVALID_SOCKET again).
inline SOCKET toSocket(int fd) {
    return static_cast<SOCKET>(static_cast<std::intptr_t>(fd));
}
inline int fromSocket(SOCKET socket) {
    return static_cast<int>(static_cast<std::intptr_t>(socket));
}

// The errno twin of a Winsock error code (the code itself when it has none).
int errnoFromWinsock(int error);

}  // namespace velgor
