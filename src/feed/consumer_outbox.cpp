#include "feed/consumer_outbox.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velgor {
namespace {

// A drained queue keeps at most this much memory for the next burst.
constexpr std::size_t KEPT_CAPACITY = 256 * 1024;

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
    if (bytes_.capacity() > KEPT_CAPACITY) std::vector<char>().swap(bytes_);
    overflowed_ = failed_ = false;
    sendError_ = 0;
    handedOver_ = lastTaken_ = 0;
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
    if (head_ == size_) head_ = size_ = 0;
}

bool ConsumerOutbox::stalledAfterTick() {
    if (socket_ == INVALID_SOCKET_HANDLE) return false;
    const auto unsent = static_cast<std::uint64_t>(std::max(ops_.unsentBytes(socket_), 0L));
    if (queued() == 0 && unsent == 0) {
        stallTicks_ = 0;
        return false;
    }
    const std::uint64_t taken = handedOver_ - std::min(handedOver_, unsent);
    if (taken != lastTaken_) {
        lastTaken_ = taken;
        stallTicks_ = 0;
        return false;
    }
    return ++stallTicks_ >= CONSUMER_STALL_TICKS;
}

}  // namespace velgor
