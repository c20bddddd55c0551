#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace velgor::e2e {

// A program the harness runs (the relay or a peer), with its output sent to a
// file, and the two figures taken of it: CPU time and peak resident memory.
class ChildProcess {
  public:
    struct Options {
        std::string workingDirectory;       // empty: the harness's own
        std::string outputFile;             // stdout and stderr; empty: /dev/null
        std::vector<std::string> unsetEnv;  // removed from the environment
        std::vector<std::pair<std::string, std::string>> setEnv;
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program's path. False (with error()) when it cannot be started.
    bool start(const std::vector<std::string>& argv, const Options& options);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // CPU seconds used so far by all of its threads (the scheduler's run time,
    // in nanoseconds, not the 10 ms ticks of user and system time).
    double cpuSeconds() const;
    // Times its threads have gone to sleep or been put aside so far (voluntary and
    // involuntary context switches): each sleep is one wake-up after it.
    unsigned long long contextSwitches() const;
    // Peak resident set (VmHWM) in kB; 0 when it cannot be read.
    long peakResidentKb() const;
    // SIGTERM, then SIGKILL if it has not ended within `grace`. Returns its exit
    // status as the shell shows it (128 + signal when killed), -1 if not running.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

    const std::string& error() const { return error_; }

  private:
    // `figure` of each of its threads' /proc file `file`, added up.
    unsigned long long sumOverThreads(
        const char* file,
        const std::function<unsigned long long(const std::string&)>& figure) const;

    pid_t pid_ = -1;
    std::string error_;
};

// The whole text of a file ("" when it cannot be read).
std::string readWholeFile(const std::string& path);

}  // namespace velgor::e2e
