#pragma once

namespace velgor {

// Socket events delivered to the link handlers, in the low 16 bits of the event
// word (the high 16 bits may carry an error code, which is not examined).
// They are Winsock's network event bits; where <winsock2.h> came first, its own
// macros of the same values stand in for them.
#if defined(FD_READ) || defined(FD_WRITE) || defined(FD_CLOSE)
static_assert(FD_READ == 1 && FD_WRITE == 2 && FD_CLOSE == 32);
#else
inline constexpr int FD_READ = 1;    // data waits to be read
inline constexpr int FD_WRITE = 2;   // the socket has room for more bytes
inline constexpr int FD_CLOSE = 32;  // the peer closed or reset the connection, or it failed
#endif
inline constexpr int FD_NONE = 0;  // nothing to report (a spurious wake-up)

// What a watched socket that the platform reports readable has to tell: data
// (FD_READ) while any byte waits, FD_CLOSE once the peer's close (or a reset or
// error) is all that is left, with the error code in the high 16 bits as the
// socket notifications carry it. Does not consume anything.
int pendingSocketEvent(int socket);

// The close of a watched socket whose peer is known to be gone (pollSockets said
// SOCKET_PEER_GONE), without looking at the data that waits before it: FD_CLOSE,
// with the connection's error, if any, in the high 16 bits.
int peerGoneEvent(int socket);

// The event of an event word (FD_READ, FD_WRITE or FD_CLOSE).
inline int eventCode(int event) {
    return event & 0xFFFF;
}

// The error code of an event word (0 for none).
inline int eventError(int event) {
    return (event >> 16) & 0xFFFF;
}

}  // namespace velgor
