#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "feed/consumer_outlet.h"
#include "sys/consumer_lock.h"
#include "sys/socket_ops.h"

namespace velgor {

// The most that may wait in the outbox: twice the 4.5 s a busy station (5,000
// lines a second of 44 bytes, about 1 MB) produces while the consumer takes
// nothing, so a consumer that is only slow for a moment catches up, while the
// lines of one that falls behind for good are never more than about ten seconds
// old when they go out.
inline constexpr std::size_t CONSUMER_OUTBOX_BOUND = 2 * 1024 * 1024;
// Once this much waits, the receiver is held back (its bytes wait in the system
// and in the receiver itself) until the queue is down to CONSUMER_RESUME_MARK: a
// consumer that is slower than the receiver for a while then loses no line. Half
// the bound leaves far more room than one read can add (a 64 KiB block gives at
// most twice its size in lines), so the bound is only a safety net.
inline constexpr std::size_t CONSUMER_HOLD_MARK = CONSUMER_OUTBOX_BOUND / 2;
inline constexpr std::size_t CONSUMER_RESUME_MARK = CONSUMER_OUTBOX_BOUND / 4;
// How long a consumer may take no byte while data waits for it: the 15 pauses of
// 300 ms the send loop used to give a line, counted in 100 ms ticks.
inline constexpr int CONSUMER_STALL_TICKS = 45;

// The ordered outgoing queue of the consumer link. Everything bound for the
// consumer after the handshake (lines, raw blocks, frames) is delivered here and
// goes out in order when the socket has room: one send of all that waits, under
// the consumer lock, never a wait on the main thread. A send cut short continues
// with exactly the bytes that did not go.
//
// The consumer's progress is judged by what it has taken: the bytes handed to the
// socket minus what the socket still holds unacknowledged. Data waits in either
// place; when none of it is taken for CONSUMER_STALL_TICKS ticks, or the queue
// would grow past its bound, the link is to be dropped (and the queue with it).
//
// Main thread only.
class ConsumerOutbox : public ConsumerOutlet {
  public:
    enum class Push {
        Empty,    // nothing waits in the queue
        Waiting,  // bytes wait for room in the socket
        Lost,     // the connection failed for good or the queue overflowed: drop the link
    };

    ConsumerOutbox(SocketOps& ops, ConsumerLock& lock, std::size_t bound = CONSUMER_OUTBOX_BOUND);

    // A new connection, after its handshake: the queue is empty, the counts start.
    void open(int socket);
    // The connection has ended: whatever waits is discarded.
    void close();

    // Queues bytes for the open connection. Past the bound nothing more is taken
    // and the next push reports the link lost. Without a connection, bytes are
    // dropped (the relay only delivers while the link is up).
    void deliver(int socket, const char* bytes, std::size_t count) override;

    // Sends what waits with one send call, under the consumer lock.
    [[nodiscard]] Push push();

    // One tick of the stall clock. Returns true once the consumer has taken no
    // byte for CONSUMER_STALL_TICKS ticks in a row while data waited for it.
    [[nodiscard]] bool stalledAfterTick();

    std::size_t queued() const { return size_ - head_; }
    bool overflowed() const { return overflowed_; }
    // The error of the send that failed for good (0 when none did).
    int sendError() const { return sendError_; }
    // Bytes the sockets have taken over all connections so far.
    std::uint64_t bytesSent() const { return sentTotal_; }

  private:
    void consume(std::size_t count);

    SocketOps& ops_;
    ConsumerLock& lock_;
    std::size_t bound_;
    int socket_ = INVALID_SOCKET_HANDLE;
    std::vector<char> bytes_;
    std::size_t head_ = 0;  // bytes_[head_, size_) wait
    std::size_t size_ = 0;
    bool overflowed_ = false;
    bool failed_ = false;
    int sendError_ = 0;
    std::uint64_t handedOver_ = 0;  // accepted by the socket since open
    std::uint64_t lastTaken_ = 0;
    std::uint64_t sentTotal_ = 0;
    int stallTicks_ = 0;
};

}  // namespace velgor
