#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "feed/consumer_outlet.h"
#include "log/message_log.h"
#include "sys/socket_ops.h"

namespace velgor::test {

// Socket calls that reach no socket: every send is recorded, pauses are counted and
// not slept. Sends follow `script` while it lasts (a value >= 0 takes at most that
// many bytes, -1 fails with `errorOfFailure`); after it every send takes everything.
class RecordingOps : public SocketOps {
  public:
    long send(int socket, const void* data, std::size_t length) override;
    void pause(std::chrono::milliseconds duration) override;
    long unsentBytes(int /*socket*/) override { return unsent; }

    std::deque<long> script;
    int errorOfFailure = 0;          // errno a failed send leaves
    long unsent = 0;                 // what the socket holds unacknowledged
    std::vector<std::string> sends;  // what each send call took ("" when it failed)
    std::vector<int> sockets;        // the socket of each send call
    std::string wire;                // every byte taken, in order
    int pauses = 0;
    std::chrono::milliseconds paused{0};
};

// The consumer sender's outlet, recorded: what each delivery held, for which socket.
class RecordingOutlet : public ConsumerOutlet {
  public:
    void deliver(int socket, const char* bytes, std::size_t count) override {
        sockets.push_back(socket);
        sends.emplace_back(bytes, count);
        wire.append(bytes, count);
    }

    std::vector<std::string> sends;
    std::vector<int> sockets;
    std::string wire;
};

// Real sends; pauses counted, and slept only when `sleepForReal`.
class CountingPauseOps : public SocketOps {
  public:
    explicit CountingPauseOps(bool sleepForReal = false) : sleepForReal_(sleepForReal) {}
    void pause(std::chrono::milliseconds duration) override;

    int pauses = 0;

  private:
    bool sleepForReal_;
};

// A connected TCP pair on 127.0.0.1 (ephemeral port): `sender` is the relay's end,
// `peer` the consumer's. Both are closed on destruction.
class LoopbackPair {
  public:
    LoopbackPair();
    ~LoopbackPair();
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    int sender = -1;
    int peer = -1;

    void makeSenderNonBlocking() const;
    // Fills the sender's socket buffers until a send would block (the peer reads
    // nothing meanwhile). Returns the bytes that went in.
    std::size_t stuffSender() const;
    // Reads on the peer until `count` bytes have come or `timeout` has passed.
    std::string readPeer(std::size_t count, std::chrono::milliseconds timeout) const;
};

// The texts shown at once in the status pane, in order.
class ShownLines : public PaneObserver {
  public:
    void logLineShown(std::string_view text) override { lines.emplace_back(text); }
    void statusLinesChanged() override {}

    std::vector<std::string> lines;
};

}  // namespace velgor::test
