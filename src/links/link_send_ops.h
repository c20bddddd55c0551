#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>

#include "sys/socket_ops.h"

namespace velgor {

// The socket calls the relay makes on its link sockets, passed through to the
// platform's, with two changes to the send loop's pauses:
// - after a send that failed for good (the peer reset the connection, the pipe is
//   broken, the socket is no longer connected) the pause is skipped: no later
//   attempt on that connection can succeed, and waiting 300 ms between them would
//   hold the thread for seconds per line before the close is even looked at. The
//   attempts themselves are still made (they fail at once).
// - with a stop token (the reconnect thread's handshake), a pause ends early when
//   a stop is requested, and no send is made after it.
class LinkSendOps : public SocketOps {
  public:
    explicit LinkSendOps(SocketOps& inner, std::stop_token stop = {});

    [[nodiscard]] long send(int socket, const void* data, std::size_t length) override;
    [[nodiscard]] long recv(int socket, void* buffer, std::size_t capacity) override;
    void pause(std::chrono::milliseconds duration) override;

  private:
    SocketOps& inner_;
    std::stop_token stop_;
    bool lastSendFailedForGood_ = false;
};

}  // namespace velgor
