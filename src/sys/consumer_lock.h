#pragma once

#include <chrono>
#include <string>

#include "sys/unique_fd.h"

namespace velgor {

// The name of the lock shared by every running copy of the relay on this machine
// (for one user): it is also the lock file's name.
inline constexpr char CONSUMER_LOCK_NAME[] = "winstfiledir";
// How long a data send on the consumer link waits for the lock before it goes
// ahead without it.
inline constexpr std::chrono::milliseconds CONSUMER_LOCK_WAIT{5000};
// How often a holder checks that its lock file is still the one under the
// lock's name (a file removed by a clean-up would otherwise split the lock).
inline constexpr std::chrono::milliseconds CONSUMER_LOCK_RECHECK{10000};

// The lock around each data send on the consumer link, held by one holder at a
// time across all processes of the user. It is a robust process-shared mutex in
// the small file "winstfiledir" in the user's runtime directory, which every
// holder maps. Each holder also holds the advisory lock (flock) on the file,
// which copies of the previous release took as the lock itself, so that old and
// new copies exclude each other (two system calls per pair). A waiter tries
// again after short, growing pauses. A holder that dies, even by SIGKILL, leaves
// it free: the kernel drops its file lock and marks the mutex as left by a dead
// owner, and the next holder takes it and makes it consistent again. Setting the
// mutex up in a new file happens under the file lock, waited for as a send
// waits. The file's bytes are written before it is mapped: a lock file on a full
// disk is not used (the relay says so once and sends without the lock).
//
// On Windows it is the named mutex "winstfiledir", opened by every copy of the
// relay; the directory has no part there. A holder that dies holding it leaves
// it abandoned, which the next holder is told and takes it all the same. A
// mutex belongs to the thread that took it: release on that thread.
//
// Each ConsumerLock object is one holder, also against other objects in the same
// process. It is not shared by a forked child: a child makes its own. Use it from
// one thread only.
class ConsumerLock {
  public:
    // The lock file in lockDirectory() (the user's runtime directory).
    ConsumerLock();
    // The lock file in the given directory, which must exist (for tests). On
    // Windows a lock of its own, named after the directory, so that tests never
    // share the running relay's.
    explicit ConsumerLock(std::string directory,
                          std::chrono::milliseconds recheckInterval = CONSUMER_LOCK_RECHECK);
    ~ConsumerLock();
    ConsumerLock(ConsumerLock&& other) noexcept;
    ConsumerLock& operator=(ConsumerLock&& other) noexcept;
    ConsumerLock(const ConsumerLock&) = delete;
    ConsumerLock& operator=(const ConsumerLock&) = delete;

    // Takes the lock, waiting at most `limit`. Returns whether it was taken;
    // false also when the lock file cannot be opened or set up (at once, or after
    // waiting for the copy that holds a file to be set up) and when this object
    // holds it already (the lock is not re-entrant).
    [[nodiscard]] bool acquire(std::chrono::milliseconds limit);
    // Frees the lock if this object holds it; otherwise does nothing.
    void release();

    bool held() const { return held_; }
    // Whether the lock file (on Windows the mutex) is open: acquire can succeed
    // at all.
    bool usable() const;
    // The lock file's path; on Windows the mutex's name.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool held_ = false;
#ifdef _WIN32
    void* mutex_ = nullptr;  // the HANDLE
#else
    struct Shared;

    // Opens, sets up if need be, and maps the lock file, waiting for the file
    // lock until `deadline` at most.
    [[nodiscard]] bool openFile(std::chrono::steady_clock::time_point deadline);
    // Maps the open file; with `setUp` (under the file lock), sets its mutex up
    // when it has no mark, else fails then.
    [[nodiscard]] bool mapFile(bool setUp);
    // Closes the file after a failure, saying why the first time.
    [[nodiscard]] bool giveUp(const char* what, int error);
    void closeFile();
    [[nodiscard]] bool fileStillNamed() const;
    // One try at the mutex and the file lock: 0 when both are taken, EBUSY while
    // another holder has either.
    [[nodiscard]] int tryTake();

    UniqueFd fd_;
    Shared* shared_ = nullptr;  // the file's mapping
    bool fileLocked_ = false;   // the flock is held with the mutex
    bool told_ = false;         // why the lock cannot be used has been said
    std::chrono::milliseconds recheckInterval_;
    std::chrono::steady_clock::time_point nextRecheck_;
#endif
};

// Takes a ConsumerLock for one scope and frees it at the end if it was taken.
class ConsumerLockHold {
  public:
    explicit ConsumerLockHold(ConsumerLock& lock,
                              std::chrono::milliseconds limit = CONSUMER_LOCK_WAIT)
        : lock_(lock), taken_(lock.acquire(limit)) {}
    ~ConsumerLockHold() {
        if (taken_) lock_.release();
    }
    ConsumerLockHold(const ConsumerLockHold&) = delete;
    ConsumerLockHold& operator=(const ConsumerLockHold&) = delete;

    bool taken() const { return taken_; }

  private:
    ConsumerLock& lock_;
    bool taken_;
};

#ifndef _WIN32
// The user's runtime directory: $XDG_RUNTIME_DIR when it names a directory, else
// "velgor-<uid>" under /tmp, created with mode 0700. Empty when neither can be
// used (then the lock cannot be taken, and the relay sends without it).
[[nodiscard]] std::string lockDirectory();
// The same choice with its inputs given: the value of XDG_RUNTIME_DIR (may be
// null) and the directory that holds the per-user fallback directory.
[[nodiscard]] std::string lockDirectory(const char* runtimeDir, const std::string& fallbackRoot);
#endif

}  // namespace velgor
