#include "sys/consumer_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <utility>

namespace velgor {
namespace {

using Clock = std::chrono::steady_clock;

// Pauses between attempts while another holder has the lock: short at first
// (the lock is normally held for one send), growing to a few milliseconds.
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

ConsumerLock::~ConsumerLock() = default;

ConsumerLock::ConsumerLock(ConsumerLock&& other) noexcept
    : path_(std::move(other.path_)),
      held_(std::exchange(other.held_, false)),
      fd_(std::move(other.fd_)),
      recheckInterval_(other.recheckInterval_),
      nextRecheck_(other.nextRecheck_) {}

ConsumerLock& ConsumerLock::operator=(ConsumerLock&& other) noexcept {
    if (this != &other) {
        path_ = std::move(other.path_);
        fd_ = std::move(other.fd_);  // closing the one held also frees its lock
        held_ = std::exchange(other.held_, false);
        recheckInterval_ = other.recheckInterval_;
        nextRecheck_ = other.nextRecheck_;
    }
    return *this;
}

bool ConsumerLock::usable() const {
    return fd_.valid();
}

bool ConsumerLock::openFile() {
    // O_CLOEXEC: a program started from the relay must not inherit (and so keep
    // holding) the lock. O_NOFOLLOW: the name must not lead elsewhere.
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LOCK_FILE_MODE));
    if (!fd_.valid()) return false;
    (void)::fchmod(fd_.get(), LOCK_FILE_KEEP);  // best effort: only asks for the file to be kept
    nextRecheck_ = Clock::now() + recheckInterval_;
    return true;
}

void ConsumerLock::closeFile() {
    fd_.reset();  // closing the last descriptor also frees the lock
    held_ = false;
}

bool ConsumerLock::fileStillNamed() const {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd_.get(), &opened) == 0 && ::stat(path_.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool ConsumerLock::acquire(std::chrono::milliseconds limit) {
    if (held_) return false;
    if (!fd_.valid()) {
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

    if (flockRetryingSignals(fd_.get(), LOCK_EX | LOCK_NB) == 0) return held_ = true;
    if (errno != EWOULDBLOCK) return false;

    const auto deadline = Clock::now() + limit;
    auto pause = std::chrono::duration_cast<Clock::duration>(FIRST_RETRY_PAUSE);
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        if (flockRetryingSignals(fd_.get(), LOCK_EX | LOCK_NB) == 0) return held_ = true;
        if (errno != EWOULDBLOCK) return false;
        pause = std::min<Clock::duration>(pause * 2, LONGEST_RETRY_PAUSE);
    }
}

void ConsumerLock::release() {
    if (!held_) return;
    held_ = false;
    // Unlocking our own open descriptor has no failure to act on; should it ever
    // fail, closing the descriptor frees the lock all the same.
    (void)flockRetryingSignals(fd_.get(), LOCK_UN);
}

}  // namespace velgor
