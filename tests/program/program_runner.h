#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velgor::test {

// A program started by a test, with its output read back, in a working
// directory and environment of the test's choosing.
class RunningProgram {
  public:
    struct Options {
        std::string workingDirectory;
        std::map<std::string, std::string> setEnv;  // added or replaced
        std::vector<std::string> unsetEnv;
        std::vector<std::string> wrapper;  // e.g. {"unshare", "-m", ...} before the program
        // JOURNAL_STREAM names the program's stdout, as systemd sets it for a
        // service whose output goes to the journal.
        bool stdoutIsJournal = false;
    };

    RunningProgram(const std::string& program, const std::vector<std::string>& args,
                   const Options& options);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int signalNumber);
    // Waits for the program to end; its exit status (WEXITSTATUS, or 128 + signal)
    // or nothing if it runs past the limit.
    std::optional<int> wait(std::chrono::milliseconds limit);
    // Reads output until `text` appears in stdout (or the limit passes).
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit);

    const std::string& out() {
        drain();
        return out_;
    }
    const std::string& err() {
        drain();
        return err_;
    }

  private:
    void drain();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::optional<int> status_;
};

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    void write(const std::string& name, const std::string& content) const;

  private:
    std::string path_;
};

}  // namespace velgor::test
