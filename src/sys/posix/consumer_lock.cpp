#include "sys/consumer_lock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <utility>

namespace velgor {
namespace {

using Clock = std::chrono::steady_clock;

// Pauses between tries while another holder has the lock.
constexpr std::chrono::microseconds FIRST_RETRY_PAUSE{200};
constexpr std::chrono::microseconds LONGEST_RETRY_PAUSE{5000};

// The lock file's mode: private to the user; the sticky bit asks clean-ups of
// the runtime directory to leave the file alone.
constexpr mode_t LOCK_FILE_MODE = S_IRUSR | S_IWUSR;
constexpr mode_t LOCK_FILE_KEEP = S_ISVTX | LOCK_FILE_MODE;
constexpr mode_t PRIVATE_DIR_MODE = S_IRWXU;

bool isDirectory(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes sure `dir` is a real directory of ours that no one else can write.
[[nodiscard]] bool privateDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), PRIVATE_DIR_MODE) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::chmod(dir.c_str(), PRIVATE_DIR_MODE) != 0) {
        return false;
    }
    return true;
}

[[nodiscard]] int flockRetryingSignals(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

// What the lock file holds: a mark that the mutex in it has been set up, and the
// mutex. A file that is shorter, or holds no mark, is set up afresh.
struct ConsumerLock::Shared {
    static constexpr std::uint32_t READY = 0x564C4B31;  // "VLK1"
    std::atomic<std::uint32_t> ready;
    pthread_mutex_t mutex;
};

std::string lockDirectory(const char* runtimeDir, const std::string& fallbackRoot) {
    if (runtimeDir != nullptr && runtimeDir[0] == '/' && isDirectory(runtimeDir)) {
        return runtimeDir;
    }
    std::string dir = fallbackRoot + "/velgor-" + std::to_string(::geteuid());
    return privateDirectory(dir) ? dir : std::string();
}

std::string lockDirectory() {
    return lockDirectory(std::getenv("XDG_RUNTIME_DIR"), "/tmp");
}

ConsumerLock::ConsumerLock() : ConsumerLock(lockDirectory()) {}

ConsumerLock::ConsumerLock(std::string directory, std::chrono::milliseconds recheckInterval)
    : recheckInterval_(recheckInterval) {
    if (!directory.empty()) {
        path_ = std::move(directory) + "/" + CONSUMER_LOCK_NAME;
        (void)openFile();  // a file not opened now is tried again by acquire()
    }
}

ConsumerLock::~ConsumerLock() {
    closeFile();
}

ConsumerLock::ConsumerLock(ConsumerLock&& other) noexcept
    : path_(std::move(other.path_)),
      held_(std::exchange(other.held_, false)),
      fd_(std::move(other.fd_)),
      shared_(std::exchange(other.shared_, nullptr)),
      recheckInterval_(other.recheckInterval_),
      nextRecheck_(other.nextRecheck_) {}

ConsumerLock& ConsumerLock::operator=(ConsumerLock&& other) noexcept {
    if (this != &other) {
        closeFile();  // frees the lock this object holds
        path_ = std::move(other.path_);
        fd_ = std::move(other.fd_);
        shared_ = std::exchange(other.shared_, nullptr);
        held_ = std::exchange(other.held_, false);
        recheckInterval_ = other.recheckInterval_;
        nextRecheck_ = other.nextRecheck_;
    }
    return *this;
}

bool ConsumerLock::usable() const {
    return shared_ != nullptr;
}

bool ConsumerLock::openFile() {
    // O_CLOEXEC: a program started from the relay must not inherit the file.
    // O_NOFOLLOW: the name must not lead elsewhere.
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LOCK_FILE_MODE));
    if (!fd_.valid()) return false;
    (void)::fchmod(fd_.get(), LOCK_FILE_KEEP);  // best effort: only asks for the file to be kept
    nextRecheck_ = Clock::now() + recheckInterval_;

    // Setting up is done by one process at a time, under an advisory lock on the
    // file; it is never redone once the file holds its mark.
    if (flockRetryingSignals(fd_.get(), LOCK_EX) != 0) {
        fd_.reset();
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd_.get(), &st) == 0 &&
              (st.st_size >= static_cast<off_t>(sizeof(Shared)) ||
               ::ftruncate(fd_.get(), sizeof(Shared)) == 0);
    void* map = ok ? ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0)
                   : MAP_FAILED;
    if (map != MAP_FAILED) {
        auto* shared = static_cast<Shared*>(map);
        if (shared->ready.load(std::memory_order_acquire) != Shared::READY) {
            pthread_mutexattr_t attributes;
            ok = ::pthread_mutexattr_init(&attributes) == 0 &&
                 ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                 ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                 ::pthread_mutex_init(&shared->mutex, &attributes) == 0;
            ::pthread_mutexattr_destroy(&attributes);
            if (ok) shared->ready.store(Shared::READY, std::memory_order_release);
        }
        if (ok) {
            shared_ = shared;
        } else {
            ::munmap(map, sizeof(Shared));
        }
    }
    (void)flockRetryingSignals(fd_.get(), LOCK_UN);
    if (shared_ == nullptr) fd_.reset();
    return shared_ != nullptr;
}

void ConsumerLock::closeFile() {
    release();
    if (shared_ != nullptr) ::munmap(shared_, sizeof(Shared));
    shared_ = nullptr;
    fd_.reset();
}

bool ConsumerLock::fileStillNamed() const {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd_.get(), &opened) == 0 && ::stat(path_.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool ConsumerLock::acquire(std::chrono::milliseconds limit) {
    if (held_) return false;
    if (shared_ == nullptr) {
        // The file could not be opened before (for instance the directory was
        // missing); try once more, but never wait for it.
        if (path_.empty() || !openFile()) return false;
    } else if (Clock::now() >= nextRecheck_) {
        // Someone removed or replaced our file: a new copy of the relay would
        // lock the new one, so move over to it.
        if (!fileStillNamed()) {
            closeFile();
            if (!openFile()) return false;
        }
        nextRecheck_ = Clock::now() + recheckInterval_;
    }

    // Tries, pausing between tries while another holder has it: short pauses
    // at first (the lock is normally held for one send), growing to a few
    // milliseconds. Only tries, never a timed wait: the wait is measured on the
    // monotonic clock, which a change of the wall clock cannot stretch.
    const auto deadline = Clock::now() + limit;
    auto pause = std::chrono::duration_cast<Clock::duration>(FIRST_RETRY_PAUSE);
    for (;;) {
        const int rc = tryTake();
        if (rc == 0) return held_ = true;
        if (rc != EBUSY) return false;  // a mutex that cannot be used at all
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min<Clock::duration>(pause * 2, LONGEST_RETRY_PAUSE);
    }
}

int ConsumerLock::tryTake() {
    int rc = ::pthread_mutex_trylock(&shared_->mutex);
    // A holder that died left the mutex to this taker, which makes it consistent.
    if (rc == EOWNERDEAD) rc = ::pthread_mutex_consistent(&shared_->mutex);
    return rc;
}

void ConsumerLock::release() {
    if (!held_) return;
    held_ = false;
    // Freeing a mutex this thread holds has no failure to act on.
    (void)::pthread_mutex_unlock(&shared_->mutex);
}

}  // namespace velgor
