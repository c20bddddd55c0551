#include "e2e/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace velgor::e2e {
namespace {

// Runs in the forked child: only async-signal-safe calls and exec.
[[noreturn]] void execChild(const std::vector<char*>& argv, const ChildProcess::Options& options,
                            int outputFd) {
    ::setpgid(0, 0);
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
        ::_exit(126);
    }
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
    ::dup2(outputFd, STDOUT_FILENO);
    ::dup2(outputFd, STDERR_FILENO);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    stop(std::chrono::seconds(2));
}

bool ChildProcess::start(const std::vector<std::string>& argv, const Options& options) {
    if (argv.empty()) {
        error_ = "no program";
        return false;
    }
    const std::string output = options.outputFile.empty() ? "/dev/null" : options.outputFile;
    const int outputFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outputFd < 0) {
        error_ = "cannot open " + output + ": " + std::strerror(errno);
        return false;
    }
    // The environment is changed in the parent around the fork (setenv is not
    // safe in the child) and put back afterwards.
    std::vector<std::pair<std::string, std::string>> saved;
    auto remember = [&](const std::string& name) {
        const char* value = std::getenv(name.c_str());
        saved.emplace_back(name, value == nullptr ? std::string("\x01") : std::string(value));
    };
    for (const auto& name : options.unsetEnv) {
        remember(name);
        ::unsetenv(name.c_str());
    }
    for (const auto& [name, value] : options.setEnv) {
        remember(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::fcntl(outputFd, F_SETFD, 0);
        execChild(args, options, outputFd);
    }
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        if (it->second == "\x01") {
            ::unsetenv(it->first.c_str());
        } else {
            ::setenv(it->first.c_str(), it->second.c_str(), 1);
        }
    }
    ::close(outputFd);
    if (pid < 0) {
        error_ = std::string("fork failed: ") + std::strerror(errno);
        return false;
    }
    pid_ = pid;
    return true;
}

unsigned long long ChildProcess::sumOverThreads(
    const char* file, const std::function<unsigned long long(const std::string&)>& figure) const {
    if (pid_ <= 0) return 0;
    // Threads that have ended are left out: a carrier's threads live as long as
    // it does.
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) return 0;
    unsigned long long total = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        total += figure(readWholeFile(tasks + "/" + entry->d_name + "/" + file));
    }
    ::closedir(dir);
    return total;
}

double ChildProcess::cpuSeconds() const {
    // Each thread's schedstat begins with its time on a CPU in nanoseconds.
    const unsigned long long totalNs = sumOverThreads("schedstat", [](const std::string& stat) {
        return std::strtoull(stat.c_str(), nullptr, 10);
    });
    return static_cast<double>(totalNs) / 1e9;
}

unsigned long long ChildProcess::contextSwitches() const {
    return sumOverThreads("status", [](const std::string& text) {
        std::istringstream status(text);
        unsigned long long switches = 0;
        for (std::string line; std::getline(status, line);) {
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos && line.find("ctxt_switches") != std::string::npos) {
                switches += std::strtoull(line.c_str() + colon + 1, nullptr, 10);
            }
        }
        return switches;
    });
}

long ChildProcess::peakResidentKb() const {
    if (pid_ <= 0) return 0;
    std::istringstream status(readWholeFile("/proc/" + std::to_string(pid_) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace velgor::e2e
