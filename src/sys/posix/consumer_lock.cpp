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
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// One try at the file lock: 0 when taken, EBUSY while someone else holds it, else
// the errno value.
[[nodiscard]] int tryFileLock(int fd) {
    if (flockRetryingSignals(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    return errno == EWOULDBLOCK ? EBUSY : errno;
}

// Calls `tryOnce` until it gives anything but EBUSY or `deadline` passes, pausing
// between tries: short pauses at first (the lock is normally held for one send),
// growing to a few milliseconds. Only tries, never a timed wait: the wait is
// measured on the monotonic clock, which a change of the wall clock cannot
// stretch. Returns what the last try gave.
template <typename Try>
[[nodiscard]] int retryWhileBusy(Clock::time_point deadline, Try tryOnce) {
    auto pause = std::chrono::duration_cast<Clock::duration>(FIRST_RETRY_PAUSE);
    for (;;) {
        const int rc = tryOnce();
        if (rc != EBUSY) return rc;
        const auto now = Clock::now();
        if (now >= deadline) return rc;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min<Clock::duration>(pause * 2, LONGEST_RETRY_PAUSE);
    }
}

// Whether the 32-bit word at `offset` in the file is `mark`. Read with pread,
// which reads a part of the file never written as zeros without taking room on
// the disk; touching such a part through a mapping needs room, and a full disk
// answers that with SIGBUS.
[[nodiscard]] bool fileHoldsMark(int fd, off_t offset, std::uint32_t mark) {
    std::uint32_t word = 0;
    return ::pread(fd, &word, sizeof word, offset) == static_cast<ssize_t>(sizeof word) &&
           word == mark;
}

// Writes `count` zeros at the start of the file, so that the disk holds room for
// them before they are mapped. 0, or the errno value (ENOSPC on a full disk).
[[nodiscard]] int writeZeros(int fd, std::size_t count) {
    constexpr std::size_t CHUNK = 256;
    const char zeros[CHUNK] = {};
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pwrite(fd, zeros, std::min(CHUNK, count - done), static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
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

ConsumerLock::ConsumerLock() : ConsumerLock(lockDirectory()) {
    if (path_.empty()) {
        std::fprintf(stderr,
                     "velgor: no runtime directory for the send lock; sending without it\n");
        told_ = true;
    }
}

ConsumerLock::ConsumerLock(std::string directory, std::chrono::milliseconds recheckInterval)
    : recheckInterval_(recheckInterval) {
    if (!directory.empty()) {
        path_ = std::move(directory) + "/" + CONSUMER_LOCK_NAME;
        // A file not opened now is tried again by acquire().
        (void)openFile(Clock::now() + CONSUMER_LOCK_WAIT);
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
      fileLocked_(std::exchange(other.fileLocked_, false)),
      told_(other.told_),
      recheckInterval_(other.recheckInterval_),
      nextRecheck_(other.nextRecheck_) {}

ConsumerLock& ConsumerLock::operator=(ConsumerLock&& other) noexcept {
    if (this != &other) {
        closeFile();  // frees the lock this object holds
        path_ = std::move(other.path_);
        fd_ = std::move(other.fd_);
        shared_ = std::exchange(other.shared_, nullptr);
        held_ = std::exchange(other.held_, false);
        fileLocked_ = std::exchange(other.fileLocked_, false);
        told_ = other.told_;
        recheckInterval_ = other.recheckInterval_;
        nextRecheck_ = other.nextRecheck_;
    }
    return *this;
}

bool ConsumerLock::usable() const {
    return shared_ != nullptr;
}

bool ConsumerLock::openFile(Clock::time_point deadline) {
    // O_CLOEXEC: a program started from the relay must not inherit the file.
    // O_NOFOLLOW: the name must not lead elsewhere.
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LOCK_FILE_MODE));
    if (!fd_.valid()) return giveUp("cannot be opened", errno);
    (void)::fchmod(fd_.get(), LOCK_FILE_KEEP);  // best effort: only asks for the file to be kept
    nextRecheck_ = Clock::now() + recheckInterval_;

    // A file set up before is only mapped: its bytes were written when it was set up.
    if (fileHoldsMark(fd_.get(), offsetof(Shared, ready), Shared::READY) && mapFile(false)) {
        return true;
    }

    // Setting up is done by one process at a time, under the file lock, which a
    // holder (of this release or the previous one) keeps for a send: it is waited
    // for as the lock is. It is never redone once the file holds its mark.
    int error = retryWhileBusy(deadline, [this] { return tryFileLock(fd_.get()); });
    if (error != 0) {
        return giveUp(error == EBUSY ? "is held by another copy for too long" : "cannot be locked",
                      error);
    }
    // Room for the lock's bytes is taken on the disk before they are mapped.
    if (!fileHoldsMark(fd_.get(), offsetof(Shared, ready), Shared::READY)) {
        error = writeZeros(fd_.get(), sizeof(Shared));
    }
    const bool mapped = error == 0 && mapFile(true);
    if (error == 0 && !mapped) error = errno;
    (void)flockRetryingSignals(fd_.get(), LOCK_UN);
    return mapped || giveUp("cannot be set up", error);
}

bool ConsumerLock::mapFile(bool setUp) {
    void* map = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
    if (map == MAP_FAILED) return false;
    auto* shared = static_cast<Shared*>(map);
    bool ok = shared->ready.load(std::memory_order_acquire) == Shared::READY;
    if (!ok && setUp) {
        pthread_mutexattr_t attributes;
        ok = ::pthread_mutexattr_init(&attributes) == 0 &&
             ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
             ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
             ::pthread_mutex_init(&shared->mutex, &attributes) == 0;
        ::pthread_mutexattr_destroy(&attributes);
        if (ok) shared->ready.store(Shared::READY, std::memory_order_release);
    }
    if (!ok) {
        ::munmap(map, sizeof(Shared));
        errno = EINVAL;
        return false;
    }
    shared_ = shared;
    return true;
}

bool ConsumerLock::giveUp(const char* what, int error) {
    fd_.reset();
    if (!told_) {
        // Said once: a send goes ahead without the lock from now on (the file is
        // tried again at each send, without a word).
        std::fprintf(stderr, "velgor: the send lock %s %s (%s); sending without it\n",
                     path_.c_str(), what, std::strerror(error));
        told_ = true;
    }
    return false;
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
    const auto deadline = Clock::now() + limit;
    if (shared_ == nullptr) {
        // The file could not be opened or set up before (for instance the
        // directory was missing, or the disk full); try once more.
        if (path_.empty() || !openFile(deadline)) return false;
    } else if (Clock::now() >= nextRecheck_) {
        // Someone removed or replaced our file: a new copy of the relay would
        // lock the new one, so move over to it.
        if (!fileStillNamed()) {
            closeFile();
            if (!openFile(deadline)) return false;
        }
        nextRecheck_ = Clock::now() + recheckInterval_;
    }
    // A mutex that cannot be used at all gives up at once.
    if (retryWhileBusy(deadline, [this] { return tryTake(); }) != 0) return false;
    return held_ = true;
}

int ConsumerLock::tryTake() {
    int rc = ::pthread_mutex_trylock(&shared_->mutex);
    // A holder that died left the mutex to this taker, which makes it consistent.
    if (rc == EOWNERDEAD) rc = ::pthread_mutex_consistent(&shared_->mutex);
    if (rc != 0) return rc;
    // The file lock keeps out copies of the previous release, which lock only
    // the file. Where the file system has no such lock, the mutex alone is held.
    const int fileRc = tryFileLock(fd_.get());
    if (fileRc == EBUSY) {
        (void)::pthread_mutex_unlock(&shared_->mutex);
        return EBUSY;
    }
    fileLocked_ = fileRc == 0;
    return 0;
}

void ConsumerLock::release() {
    if (!held_) return;
    held_ = false;
    // Freeing locks this thread holds has no failure to act on; should the file
    // lock's fail, closing the file frees it all the same.
    if (std::exchange(fileLocked_, false)) (void)flockRetryingSignals(fd_.get(), LOCK_UN);
    (void)::pthread_mutex_unlock(&shared_->mutex);
}

}  // namespace velgor
