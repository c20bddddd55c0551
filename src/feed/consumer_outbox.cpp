#include "feed/consumer_outbox.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sys/socket_calls.h"

namespace velgor {
namespace {

// Deliveries closer together than this share one mark: a byte's wait is counted
// from its run's first delivery, so it is at most this much too long, never short.
constexpr std::chrono::milliseconds AGE_STEP{100};
// How far ahead tooOldAt looks: the next tick, a late one included.
constexpr std::chrono::milliseconds AGE_LOOK_AHEAD{200};

}  // namespace

ConsumerOutbox::ConsumerOutbox(SocketOps& ops, ConsumerLock& lock, std::size_t bound)
    : ops_(ops), lock_(lock), bound_(bound) {}

void ConsumerOutbox::open(int socket) {
    close();
    socket_ = socket;
}

void ConsumerOutbox::close() {
    socket_ = INVALID_SOCKET_HANDLE;
    head_ = size_ = 0;
    if (bytes_.capacity() > CONSUMER_KEPT_CAPACITY) std::vector<char>().swap(bytes_);
    overflowed_ = failed_ = false;
    sendError_ = 0;
    delivered_ = handedOver_ = lastTaken_ = 0;
    marks_.clear();
    stallTicks_ = 0;
}

void ConsumerOutbox::deliver(int socket, const char* bytes, std::size_t count) {
    if (socket_ == INVALID_SOCKET_HANDLE || socket != socket_ || overflowed_ || count == 0) return;
    if (queued() + count > bound_) {
        overflowed_ = true;
        return;
    }
    if (head_ > 0 && size_ + count > bytes_.size()) {
        // Move what waits to the front before growing.
        std::memmove(bytes_.data(), bytes_.data() + head_, queued());
        size_ -= head_;
        head_ = 0;
    }
    if (size_ + count > bytes_.size()) bytes_.resize(std::max(size_ + count, 2 * bytes_.size()));
    std::memcpy(bytes_.data() + size_, bytes, count);
    size_ += count;

    const Clock::time_point at = waitSince_.value_or(Clock::now());
    if (marks_.empty() || at >= marks_.back().at + AGE_STEP) {
        marks_.push_back({delivered_, at});
    } else if (at < marks_.back().at) {
        marks_.back().at = at;  // the run is counted as old as its oldest byte
    }
    delivered_ += count;
}

ConsumerOutbox::Push ConsumerOutbox::push() {
    if (overflowed_ || failed_) return Push::Lost;
    if (queued() == 0) return Push::Empty;
    long sent = 0;
    int error = 0;
    {
        ConsumerLockHold hold(lock_);
        errno = 0;
        sent = ops_.send(socket_, bytes_.data() + head_, queued());
        error = errno;
    }
    if (sent > 0) {
        consume(static_cast<std::size_t>(sent));
    } else if (sent < 0 && sendErrorIsFinal(error)) {
        failed_ = true;
        sendError_ = error;
        return Push::Lost;
    }
    return queued() == 0 ? Push::Empty : Push::Waiting;
}

void ConsumerOutbox::consume(std::size_t count) {
    count = std::min(count, queued());
    head_ += count;
    handedOver_ += count;
    sentTotal_ += count;
    if (head_ == size_) {
        head_ = size_ = 0;
        // A burst's memory goes with it, but for what the next one is likely to need.
        if (bytes_.size() > CONSUMER_KEPT_CAPACITY) {
            bytes_.resize(CONSUMER_KEPT_CAPACITY);
            bytes_.shrink_to_fit();
        }
    }
}

std::uint64_t ConsumerOutbox::taken(std::uint64_t whereUnseen) const {
    const long unsent = ops_.unsentBytes(socket_);
    const std::uint64_t held = unsent >= 0 ? static_cast<std::uint64_t>(unsent) : whereUnseen;
    return handedOver_ - std::min(handedOver_, held);
}

bool ConsumerOutbox::tooOldAt(Clock::time_point now) {
    if (socket_ == INVALID_SOCKET_HANDLE) return false;
    // Where the system cannot tell, all its (capped) buffer may still wait.
    const std::uint64_t oldest = taken(UNSEEN_SEND_BUFFER_CAP);
    if (oldest >= delivered_) return false;  // the consumer has taken everything
    while (marks_.size() > 1 && marks_[1].from <= oldest) marks_.pop_front();
    return now - marks_.front().at + AGE_LOOK_AHEAD >= CONSUMER_AGE_LIMIT;
}

bool ConsumerOutbox::stalledAfterTick() {
    if (socket_ == INVALID_SOCKET_HANDLE) return false;
    const std::uint64_t taken = this->taken(0);
    if (queued() == 0 && taken == handedOver_) {
        stallTicks_ = 0;
        return false;
    }
    if (taken != lastTaken_) {
        lastTaken_ = taken;
        stallTicks_ = 0;
        return false;
    }
    return ++stallTicks_ >= CONSUMER_STALL_TICKS;
}

}  // namespace velgor
