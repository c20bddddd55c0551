#include "sys/consumer_lock.h"

#include <algorithm>
#include <utility>

#include "sys/win/winsock_fd.h"

namespace velgor {
namespace {

// The semaphore one count wide: held by one holder at a time.
constexpr LONG LOCK_COUNT = 1;

HANDLE openSemaphore(const std::string& name) {
    // Opens the semaphore when another copy made it, else makes it free. Not
    // inherited by programs the relay starts (no security attributes).
    return ::CreateSemaphoreA(nullptr, LOCK_COUNT, LOCK_COUNT, name.c_str());
}

// A semaphore name may hold no backslash: a directory given for a lock of its
// own is written with forward slashes.
std::string lockNameFor(const std::string& directory) {
    std::string name = std::string(CONSUMER_LOCK_NAME) + ":" + directory;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace

ConsumerLock::ConsumerLock() : path_(CONSUMER_LOCK_NAME), semaphore_(openSemaphore(path_)) {}

ConsumerLock::ConsumerLock(std::string directory, std::chrono::milliseconds)
    : path_(lockNameFor(directory)), semaphore_(openSemaphore(path_)) {}

ConsumerLock::~ConsumerLock() {
    release();
    if (semaphore_ != nullptr) ::CloseHandle(semaphore_);
}

ConsumerLock::ConsumerLock(ConsumerLock&& other) noexcept
    : path_(std::move(other.path_)),
      held_(std::exchange(other.held_, false)),
      semaphore_(std::exchange(other.semaphore_, nullptr)) {}

ConsumerLock& ConsumerLock::operator=(ConsumerLock&& other) noexcept {
    if (this != &other) {
        release();
        if (semaphore_ != nullptr) ::CloseHandle(semaphore_);
        path_ = std::move(other.path_);
        held_ = std::exchange(other.held_, false);
        semaphore_ = std::exchange(other.semaphore_, nullptr);
    }
    return *this;
}

bool ConsumerLock::usable() const {
    return semaphore_ != nullptr;
}

bool ConsumerLock::acquire(std::chrono::milliseconds limit) {
    if (held_) return false;
    // A semaphore not opened before is tried once more, but never waited for.
    if (semaphore_ == nullptr &&
        (path_.empty() || (semaphore_ = openSemaphore(path_)) == nullptr)) {
        return false;
    }
    const auto wait = static_cast<DWORD>(std::clamp<long long>(limit.count(), 0, INFINITE - 1));
    return held_ = ::WaitForSingleObject(semaphore_, wait) == WAIT_OBJECT_0;
}

void ConsumerLock::release() {
    if (!held_) return;
    held_ = false;
    // Giving back the one count we took cannot overflow the semaphore.
    (void)::ReleaseSemaphore(semaphore_, 1, nullptr);
}

}  // namespace velgor
