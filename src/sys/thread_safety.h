#pragma once

#include <mutex>

// Clang's thread-safety analysis: which mutex guards which data, and which
// functions take or need it. The clang build (-Wthread-safety -Werror) turns an
// unguarded access into a build failure; other compilers ignore the attributes.
#if defined(__clang__)
#define VELGOR_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELGOR_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VELGOR_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VELGOR_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VELGOR_THREAD_ATTRIBUTE(guarded_by(x))
#define ACQUIRE(...) VELGOR_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELGOR_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VELGOR_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define REQUIRES(...) VELGOR_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VELGOR_THREAD_ATTRIBUTE(no_thread_safety_analysis)

namespace velgor {

// A std::mutex the analysis knows.
class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

  private:
    std::mutex mutex_;
};

// Holds a Mutex for one scope.
class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& mutex_;
};

}  // namespace velgor
