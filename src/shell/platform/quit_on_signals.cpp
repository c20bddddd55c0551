#include "shell/platform/quit_on_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <csignal>

namespace velgor {
namespace {

int signalPipeWriteEnd = INVALID_FD;

void onQuitSignal(int /*signal*/) {
    const char byte = 1;
    // A write that fails finds the pipe full, so a quit is already waiting.
    if (signalPipeWriteEnd != INVALID_FD) (void)!::write(signalPipeWriteEnd, &byte, 1);
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd_.reset(ends[0]);
    writeEnd_.reset(ends[1]);
    signalPipeWriteEnd = writeEnd_.get();
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_.get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char drain[16];
        while (::read(readEnd_.get(), drain, sizeof drain) > 0) {
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
    signalPipeWriteEnd = INVALID_FD;
    notifier_.reset();  // before the pipe it watches is closed
}

}  // namespace velgor
