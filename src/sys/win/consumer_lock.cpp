#include "sys/consumer_lock.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "sys/win/winsock_fd.h"

namespace velgor {
namespace {

HANDLE openMutex(const std::string& name) {
    // Opens the mutex when another copy made it, else makes it free. Not
    // inherited by programs the relay starts (no security attributes).
    return ::CreateMutexA(nullptr, FALSE, name.c_str());
}

// A mutex name may hold no backslash: a directory given for a lock of its own
// is written with forward slashes.
std::string lockNameFor(const std::string& directory) {
    std::string name = std::string(CONSUMER_LOCK_NAME) + ":" + directory;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The locks this thread holds. A mutex is granted again to the thread that owns
// it, so a second holder on the same thread must be kept out by hand; it could
// only get the lock once this thread gave it back, which cannot happen while it
// waits.
thread_local std::vector<std::string> heldByThisThread;

}  // namespace

ConsumerLock::ConsumerLock() : path_(CONSUMER_LOCK_NAME), mutex_(openMutex(path_)) {}

ConsumerLock::ConsumerLock(std::string directory, std::chrono::milliseconds)
    : path_(lockNameFor(directory)), mutex_(openMutex(path_)) {}

ConsumerLock::~ConsumerLock() {
    release();
    if (mutex_ != nullptr) ::CloseHandle(mutex_);
}

ConsumerLock::ConsumerLock(ConsumerLock&& other) noexcept
    : path_(std::move(other.path_)),
      held_(std::exchange(other.held_, false)),
      mutex_(std::exchange(other.mutex_, nullptr)) {}

ConsumerLock& ConsumerLock::operator=(ConsumerLock&& other) noexcept {
    if (this != &other) {
        release();
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
        path_ = std::move(other.path_);
        held_ = std::exchange(other.held_, false);
        mutex_ = std::exchange(other.mutex_, nullptr);
    }
    return *this;
}

bool ConsumerLock::usable() const {
    return mutex_ != nullptr;
}

bool ConsumerLock::acquire(std::chrono::milliseconds limit) {
    if (held_) return false;
    // A mutex not opened before is tried once more, but never waited for.
    if (mutex_ == nullptr && (path_.empty() || (mutex_ = openMutex(path_)) == nullptr)) {
        return false;
    }
    const auto wait = static_cast<DWORD>(std::clamp<long long>(limit.count(), 0, INFINITE - 1));
    if (std::ranges::find(heldByThisThread, path_) != heldByThisThread.end()) {
        ::Sleep(wait);
        return false;
    }
    // WAIT_ABANDONED: the holder ended (its process died) without giving the lock
    // back; it is ours now, as if it had been given back.
    const DWORD result = ::WaitForSingleObject(mutex_, wait);
    held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    if (held_) heldByThisThread.push_back(path_);
    return held_;
}

void ConsumerLock::release() {
    if (!held_) return;
    held_ = false;
    const auto mine = std::ranges::find(heldByThisThread, path_);
    if (mine != heldByThisThread.end()) heldByThisThread.erase(mine);
    // Only the thread that took it can give it back: every holder takes and
    // frees it within one send on the main thread.
    (void)::ReleaseMutex(mutex_);
}

}  // namespace velgor
