#pragma once

#include "sys/unique_fd.h"

namespace velgor {

// SIGINT and SIGTERM ask the program to end, as the Exit command does. The
// handler only writes a byte to a pipe; the event loop watches readFd() and
// ends once it is readable. One at a time: the handler knows a single pipe.
// Without a pipe (out of descriptors) the signals keep their default action.
class QuitSignalPipe {
  public:
    QuitSignalPipe();
    ~QuitSignalPipe();
    QuitSignalPipe(const QuitSignalPipe&) = delete;
    QuitSignalPipe& operator=(const QuitSignalPipe&) = delete;

    // Readable once a quit has been asked for; INVALID_FD without a pipe.
    int readFd() const { return readEnd_.get(); }
    // Empties the pipe; whether a quit had been asked for.
    bool takeQuit();

  private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
};

}  // namespace velgor
