#include "shell/platform/quit_on_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <csignal>

namespace velgor {
namespace {

int signalPipeWriteEnd = -1;

void onQuitSignal(int /*signal*/) {
    const char byte = 1;
    // A write that fails finds the pipe full, so a quit is already waiting.
    if (signalPipeWriteEnd >= 0) (void)!::write(signalPipeWriteEnd, &byte, 1);
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    signalPipeWriteEnd = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char drain[16];
        while (::read(pipe_[0], drain, sizeof drain) > 0) {
        }
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    signalPipeWriteEnd = -1;
    notifier_.reset();
    for (int fd : pipe_) {
        if (fd >= 0) ::close(fd);
    }
}

}  // namespace velgor
