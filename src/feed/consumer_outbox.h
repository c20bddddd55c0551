#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "feed/consumer_outlet.h"
#include "sys/consumer_lock.h"
#include "sys/socket_ops.h"

namespace velgor {

// The most that may wait in the outbox: twice the 4.5 s a busy station (5,000
// lines a second of 44 bytes, about 1 MB) produces while the consumer takes
// nothing, so a consumer that is only slow for a moment catches up.
inline constexpr std::size_t CONSUMER_OUTBOX_BOUND = 2 * 1024 * 1024;
// A line that has waited this long for the consumer is worth nothing to it (the
// server places aircraft by the lines' times): the consumer is dropped before any
// line of its queue, or of its socket's unacknowledged bytes, gets this old, so
// one that keeps taking a little, but less than the station gives, never gets
// stale lines and never holds the receiver back for longer. A line's wait counts
// from the moment the relay read it, or, for bytes that waited in the system
// while the receiver was held back, from the start of that hold.
inline constexpr std::chrono::seconds CONSUMER_AGE_LIMIT{10};
// Once this much waits, the receiver is held back (its bytes wait in the system
// and in the receiver itself) until the queue is down to CONSUMER_RESUME_MARK: a
// consumer that is slower than the receiver for a while then loses no line. Half
// the bound leaves far more room than one read can add (a 64 KiB block gives at
// most twice its size in lines), so the bound is only a safety net. The hold
// ends at the latest with the consumer's drop at CONSUMER_AGE_LIMIT: nothing is
// queued while it lasts, so the oldest line is older than the hold.
inline constexpr std::size_t CONSUMER_HOLD_MARK = CONSUMER_OUTBOX_BOUND / 2;
inline constexpr std::size_t CONSUMER_RESUME_MARK = CONSUMER_OUTBOX_BOUND / 4;
// A drained queue keeps at most this much memory for the next burst.
inline constexpr std::size_t CONSUMER_KEPT_CAPACITY = 256 * 1024;
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
// place; when none of it is taken for CONSUMER_STALL_TICKS ticks, when the oldest
// of it is about to reach CONSUMER_AGE_LIMIT, or when the queue would grow past its
// bound, the link is to be dropped (and the queue with it).
//
// Main thread only.
class ConsumerOutbox : public ConsumerOutlet {
  public:
    using Clock = std::chrono::steady_clock;

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
    // Whether the oldest byte the consumer has not taken yet may pass
    // CONSUMER_AGE_LIMIT before the next look (a tick later). Looked at every tick.
    [[nodiscard]] bool tooOldAt(Clock::time_point now);
    // The time the next deliveries' wait counts from (none: the moment each is
    // delivered).
    void countWaitFrom(std::optional<Clock::time_point> since) { waitSince_ = since; }

    std::size_t queued() const { return size_ - head_; }
    // Bytes of memory the queue keeps.
    std::size_t capacity() const { return bytes_.capacity(); }
    bool overflowed() const { return overflowed_; }
    // The error of the send that failed for good (0 when none did).
    int sendError() const { return sendError_; }
    // Bytes the sockets have taken over all connections so far.
    std::uint64_t bytesSent() const { return sentTotal_; }

  private:
    // Where a run of delivered bytes starts (counted since open) and when the
    // first of them was delivered.
    struct Mark {
        std::uint64_t from = 0;
        Clock::time_point at;
    };

    void consume(std::size_t count);
    // Bytes of this connection the consumer has taken: handed over, and no longer
    // held unacknowledged by the socket (`whereUnseen` where the system cannot tell).
    std::uint64_t taken(std::uint64_t whereUnseen) const;

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
    std::uint64_t delivered_ = 0;   // queued since open
    std::uint64_t handedOver_ = 0;  // accepted by the socket since open
    std::deque<Mark> marks_;        // one per AGE_STEP of deliveries, oldest first
    std::optional<Clock::time_point> waitSince_;
    std::uint64_t lastTaken_ = 0;
    std::uint64_t sentTotal_ = 0;
    int stallTicks_ = 0;
};

}  // namespace velgor
