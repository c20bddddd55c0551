#pragma once

#include <cstddef>

namespace velgor {

// Where the consumer sender puts the bytes that are ready for the wire: lines,
// raw blocks and frames, in the order they must arrive. The relay's outlet is the
// consumer link's outgoing queue, which sends them when the socket has room; the
// sender itself never waits on the network.
class ConsumerOutlet {
  public:
    virtual ~ConsumerOutlet() = default;
    virtual void deliver(int socket, const char* bytes, std::size_t count) = 0;
};

}  // namespace velgor
