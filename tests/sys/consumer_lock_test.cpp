#include "sys/consumer_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "support/small_tmpfs_posix.h"

namespace velgor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct TempDir {
    std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "lock-test-XXXXXX").string();
        return ::mkdtemp(p.data()) != nullptr ? p : std::string("/nonexistent");
    }();
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// One number from the child process to the parent (an event, or a time).
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void put(std::int64_t value) const { (void)!::write(fds[1], &value, sizeof value); }
    std::int64_t take() const {
        std::int64_t value = -1;
        return ::read(fds[0], &value, sizeof value) == sizeof value ? value : -1;
    }
};

std::int64_t nowNs() {
    return Clock::now().time_since_epoch() / 1ns;
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ConsumerLock, SecondProcessWaitsForTheHolderAndGetsTheLockAfterRelease) {
    TempDir dir;
    ConsumerLock holder(dir.path);
    ASSERT_TRUE(holder.acquire(0ms));
    Pipe toParent;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ConsumerLock waiter(dir.path);
        if (waiter.acquire(0ms)) _exit(3);  // taken while the parent holds it
        toParent.put(0);                    // now waiting
        const bool taken = waiter.acquire(30s);
        toParent.put(nowNs());
        _exit(taken ? 0 : 4);
    }
    ASSERT_EQ(toParent.take(), 0);
    std::this_thread::sleep_for(200ms);
    const std::int64_t releasedAt = nowNs();
    holder.release();
    const std::int64_t takenAt = toParent.take();
    EXPECT_EQ(exitStatusOf(child), 0);
    EXPECT_GE(takenAt, releasedAt);
}

TEST(ConsumerLock, WaitThatRunsOutReturnsFalseAfterTheLimit) {
    TempDir dir;
    ConsumerLock first(dir.path);
    ConsumerLock second(dir.path);  // another holder, even in the same process
    ASSERT_TRUE(first.acquire(0ms));
    for (auto limit : {0ms, 300ms}) {
        const auto start = Clock::now();
        EXPECT_FALSE(second.acquire(limit));
        EXPECT_GE(Clock::now() - start, limit);
    }
    // The caller whose wait ran out goes on without the lock; its release must
    // not free the holder's lock. Nor is the lock re-entrant for its holder.
    second.release();
    EXPECT_FALSE(ConsumerLock(dir.path).acquire(0ms));
    EXPECT_FALSE(first.acquire(0ms));
    first.release();
    EXPECT_TRUE(second.acquire(0ms));
}

TEST(ConsumerLock, HolderKilledWithSigkillLeavesTheLockFree) {
    TempDir dir;
    Pipe toParent;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ConsumerLock holder(dir.path);
        toParent.put(holder.acquire(0ms) ? 1 : 0);
        for (;;) ::pause();
    }
    ASSERT_EQ(toParent.take(), 1);
    ConsumerLock next(dir.path);
    EXPECT_FALSE(next.acquire(0ms));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    EXPECT_EQ(exitStatusOf(child), 128 + SIGKILL);
    EXPECT_TRUE(next.acquire(0ms));
    // Taken over from the dead holder, the lock works as before: freed, taken
    // again, and taken by another process.
    next.release();
    EXPECT_TRUE(next.acquire(0ms));
    next.release();
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) _exit(ConsumerLock(dir.path).acquire(0ms) ? 0 : 1);
    EXPECT_EQ(exitStatusOf(other), 0);
}

// Copies of the previous release locked the file itself (flock), around each
// send. Such a copy and this one keep each other out, and setting up a file it
// holds waits no longer than a send would. Run in a child, which a wait without
// end would hold forever: an alarm ends it then.
TEST(ConsumerLock, CopyOfThePreviousReleaseAndThisOneExcludeEachOther) {
    TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        ConsumerLock lock(dir.path, 0ms);  // checks its file on every acquire
        // The previous release's (empty) file in its place, held by such a copy.
        std::filesystem::remove(lock.path());
        const int old = ::open(lock.path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (old < 0 || ::flock(old, LOCK_EX) != 0) _exit(10);
        auto start = Clock::now();
        if (lock.acquire(300ms)) _exit(1);
        if (Clock::now() - start < 300ms || Clock::now() - start > 3s) _exit(2);
        (void)::flock(old, LOCK_UN);
        if (!lock.acquire(0ms)) _exit(3);  // the file is set up now
        if (::flock(old, LOCK_EX | LOCK_NB) == 0) _exit(4);
        lock.release();
        if (::flock(old, LOCK_EX | LOCK_NB) != 0) _exit(5);
        start = Clock::now();
        if (lock.acquire(300ms)) _exit(6);
        if (Clock::now() - start < 300ms) _exit(7);
        (void)::flock(old, LOCK_UN);
        _exit(lock.acquire(0ms) ? 0 : 8);
    }
    EXPECT_EQ(exitStatusOf(child), 0)
        << "1, 2: set-up of a file an old copy holds not stopped at the limit; 3: not set up "
           "after; 4: old copy let in beside a holder; 5: nor after it; 6, 7: old holder not "
           "waited for; 8: not taken after; 128+14: a wait without end";
}

// On a full disk the lock file cannot get the lock's bytes. The relay then sends
// without the lock and says so once, and takes the lock once there is room again:
// whether it starts on the full disk, finds a file a crashed start left without
// its bytes, or moves over to a file that replaced its own.
TEST(ConsumerLock, FullDiskLeavesTheLockUnusedUntilThereIsRoom) {
    enum class Start { Fresh, LeftByACrash, Replaced };
    for (const Start start : {Start::Fresh, Start::LeftByACrash, Start::Replaced}) {
        TempDir dir;
        const std::string path = dir.path + "/" + CONSUMER_LOCK_NAME;
        auto leaveHoleyFile = [&] {
            std::filesystem::remove(path);
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const bool ok = fd >= 0 && ::ftruncate(fd, 48) == 0;
            ::close(fd);
            return ok;
        };
        const test::SmallTmpfsRun run = test::runOnSmallTmpfs(dir.path, [&] {
            int said[2];
            if (::pipe(said) != 0 || ::dup2(said[1], STDERR_FILENO) < 0) return 10;
            if (start == Start::LeftByACrash && !leaveHoleyFile()) return 11;
            if (start != Start::Replaced) test::fillUp(dir.path, false);
            ConsumerLock lock(dir.path, 0ms);
            if (start == Start::Replaced) {
                if (!lock.acquire(0ms)) return 12;
                lock.release();
                // Kept open here, the replaced file keeps its room when the lock lets it go.
                if (::open(path.c_str(), O_RDONLY | O_CLOEXEC) < 0 || !leaveHoleyFile()) return 11;
                test::fillUp(dir.path, false);
            }
            if (lock.acquire(0ms) || lock.acquire(100ms)) return 1;
            ::close(said[1]);
            ::close(STDERR_FILENO);
            std::string text(4096, '\0');
            text.resize(static_cast<std::size_t>(
                std::max<ssize_t>(0, ::read(said[0], text.data(), text.size()))));
            std::printf("%s", text.c_str());
            std::fflush(stdout);
            std::size_t times = 0;
            for (auto at = text.find("send lock"); at != std::string::npos;
                 at = text.find("send lock", at + 1)) {
                ++times;
            }
            if (times != 1) return 2;
            std::filesystem::remove(dir.path + "/filler");
            if (!lock.acquire(0ms)) return 3;
            lock.release();
            return 0;
        });
        if (!run.skipped.empty()) GTEST_SKIP() << "no small tmpfs to fill: " << run.skipped;
        EXPECT_EQ(run.status, 0)
            << static_cast<int>(start)
            << ": 1 taken on a full disk, 2 not said once, 3 not taken with room, 128+7 SIGBUS";
    }
}

TEST(ConsumerLock, FileLeftEmptyOrWithForeignBytesIsSetUpAndSharedByProcesses) {
    // An empty file is what copies that locked the file itself leave behind.
    for (const std::string& content : {std::string(), std::string(4096, '\xFF')}) {
        TempDir dir;
        {
            std::FILE* file = std::fopen((dir.path + "/" + CONSUMER_LOCK_NAME).c_str(), "wb");
            ASSERT_NE(file, nullptr);
            std::fwrite(content.data(), 1, content.size(), file);
            std::fclose(file);
        }
        ConsumerLock holder(dir.path);
        ASSERT_TRUE(holder.usable());
        ASSERT_TRUE(holder.acquire(0ms));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ConsumerLock other(dir.path);
            _exit(!other.usable() ? 2 : other.acquire(0ms) ? 3 : 0);
        }
        EXPECT_EQ(exitStatusOf(child), 0) << content.size() << " bytes";
        holder.release();
    }
}

TEST(ConsumerLock, MovedHolderKeepsTheLockAndADestroyedOneFreesIt) {
    TempDir dir;
    ConsumerLock other(dir.path);
    {
        ConsumerLock first(dir.path);
        ASSERT_TRUE(first.acquire(0ms));
        ConsumerLock moved(std::move(first));
        EXPECT_FALSE(other.acquire(0ms));
        first = ConsumerLock(dir.path);  // the moved-from object is usable again
        EXPECT_FALSE(first.acquire(0ms));
    }
    EXPECT_TRUE(other.acquire(0ms));
}

TEST(ConsumerLock, UnopenableFileGivesFalseAtOnceWithoutWaiting) {
    TempDir dir;
    for (const std::string& where : {dir.path + "/missing", std::string()}) {
        ConsumerLock lock(where);
        const auto start = Clock::now();
        EXPECT_FALSE(lock.acquire(60s)) << where;
        EXPECT_LT(Clock::now() - start, 30s) << where;  // it did not wait for the limit
    }
}

TEST(ConsumerLock, MovesOverToANewFileWhenItsFileIsRemoved) {
    TempDir dir;
    ConsumerLock old(dir.path, 0ms);  // checks its file on every acquire
    std::filesystem::remove(old.path());
    ConsumerLock newcomer(dir.path);  // makes a fresh file under the name
    ASSERT_TRUE(newcomer.acquire(0ms));
    EXPECT_FALSE(old.acquire(0ms));  // same name, same lock again
    newcomer.release();
    EXPECT_TRUE(old.acquire(0ms));
}

TEST(LockDirectory, RuntimeDirectoryOrPrivateFallback) {
    TempDir runtime;
    TempDir root;
    EXPECT_EQ(lockDirectory(runtime.path.c_str(), root.path), runtime.path);

    const std::string fallback = root.path + "/velgor-" + std::to_string(::geteuid());
    auto mode = [&] {
        struct stat st {};
        return ::lstat(fallback.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? st.st_mode & 0777 : 0;
    };
    for (const char* unusable :
         {static_cast<const char*>(nullptr), "", "relative/dir", "/nonexistent-runtime-dir"}) {
        EXPECT_EQ(lockDirectory(unusable, root.path), fallback);
        EXPECT_EQ(mode(), 0700u);
        ASSERT_EQ(::chmod(fallback.c_str(), 0777), 0);  // left open: made private again
    }
    // A link in the fallback's place is not followed.
    std::filesystem::remove(fallback);
    std::filesystem::create_directory_symlink(runtime.path, fallback);
    EXPECT_EQ(lockDirectory(nullptr, root.path), "");
}

}  // namespace
}  // namespace velgor
