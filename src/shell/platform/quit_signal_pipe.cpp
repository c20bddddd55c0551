#include "shell/platform/quit_signal_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace velgor {
namespace {

volatile std::sig_atomic_t signalPipeWriteEnd = INVALID_FD;

void onQuitSignal(int /*signal*/) {
    const char byte = 1;
    // A write that fails finds the pipe full, so a quit is already waiting.
    const int fd = signalPipeWriteEnd;
    if (fd != INVALID_FD) (void)!::write(fd, &byte, 1);
}

}  // namespace

QuitSignalPipe::QuitSignalPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd_.reset(ends[0]);
    writeEnd_.reset(ends[1]);
    signalPipeWriteEnd = writeEnd_.get();
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitSignalPipe::~QuitSignalPipe() {
    if (!readEnd_) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    signalPipeWriteEnd = INVALID_FD;
}

bool QuitSignalPipe::takeQuit() {
    if (!readEnd_) return false;
    bool asked = false;
    char drain[16];
    while (::read(readEnd_.get(), drain, sizeof drain) > 0) asked = true;
    return asked;
}

}  // namespace velgor
