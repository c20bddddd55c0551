#include "support/small_tmpfs_posix.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace velgor::test {
namespace {

// A few pages and a few files: filled in a moment.
constexpr const char* TMPFS_OPTIONS = "size=16k,nr_inodes=32,mode=0700";

bool writeProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// A mount namespace of this process's own with a tmpfs on `dir`; empty, or why not.
std::string mountSmallTmpfs(const std::string& dir) {
    if (::geteuid() != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return std::string("no user namespace for a non-root user: ") + std::strerror(errno);
        }
        if (!writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return std::string("cannot map the user in its namespace: ") + std::strerror(errno);
        }
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("no mount namespace: ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("cannot make the mounts private: ") + std::strerror(errno);
    }
    if (::mount("velgor-test", dir.c_str(), "tmpfs", 0, TMPFS_OPTIONS) != 0) {
        return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    }
    return {};
}

}  // namespace

SmallTmpfsRun runOnSmallTmpfs(const std::string& dir, const std::function<int()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return {std::string("no pipe: ") + std::strerror(errno)};
    const pid_t child = ::fork();
    if (child < 0) return {std::string("no child: ") + std::strerror(errno)};
    if (child == 0) {
        ::close(fds[0]);
        const std::string why = mountSmallTmpfs(dir);
        (void)!::write(fds[1], why.data(), why.size());
        ::close(fds[1]);
        _exit(why.empty() ? body() : 0);
    }
    ::close(fds[1]);
    SmallTmpfsRun run;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        run.skipped.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) == child) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return run;
}

void fillUp(const std::string& dir, bool files) {
    const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    static const char block[4096] = {};
    while (fd >= 0 && ::write(fd, block, sizeof block) > 0) {
    }
    if (fd >= 0) ::close(fd);
    for (int i = 0; files; ++i) {
        const int more = ::open((dir + "/more-" + std::to_string(i)).c_str(),
                                O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (more < 0) break;
        ::close(more);
    }
}

}  // namespace velgor::test
