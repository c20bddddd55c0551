#pragma once

#include <chrono>
#include <cstddef>

#include "sys/socket_calls.h"
#include "sys/unique_fd.h"

namespace velgor {

// The thin seam between the relay and the socket calls it makes on a connected
// socket, so that tests can inject refused sends, short writes and resets, and
// skip real pauses; it also names the resolver the links' attempts use, so that
// tests can give a name the addresses they need. The system implementation calls the platform
// directly.
class SocketOps {
  public:
    virtual ~SocketOps() = default;
    // One send, no flags beyond what keeps a closed peer from killing the
    // process. Returns the bytes sent, or -1 on failure.
    [[nodiscard]] virtual long send(int socket, const void* data, std::size_t length);
    // One receive. Returns the bytes read, 0 at an orderly close, -1 on failure.
    [[nodiscard]] virtual long recv(int socket, void* buffer, std::size_t capacity);
    // Blocks the calling thread (the send loop's pause between attempts).
    virtual void pause(std::chrono::milliseconds duration);
    // Bytes the socket has accepted that the peer has not yet acknowledged, or -1
    // when the platform cannot tell.
    [[nodiscard]] virtual long unsentBytes(int socket);
    // The look-up of a link's host name. A plain function: a look-up outlives a
    // stopped attempt, and so the object that named it.
    [[nodiscard]] virtual NameLookUp nameLookUp() { return lookUpAddresses; }
};

// Whether a send error (errno) means the connection can carry nothing any more.
bool sendErrorIsFinal(int error);

// The process-wide system implementation.
SocketOps& systemSocketOps();

}  // namespace velgor
