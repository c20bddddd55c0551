#include "shell/platform/quit_on_signals.h"

#include <QCoreApplication>

namespace velgor {

QuitOnSignals::QuitOnSignals() {
    if (pipe_.readFd() == INVALID_FD) return;
    notifier_ = std::make_unique<QSocketNotifier>(pipe_.readFd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        if (pipe_.takeQuit()) QCoreApplication::exit(0);
    });
}

QuitOnSignals::~QuitOnSignals() {
    notifier_.reset();  // before the pipe it watches is closed
}

}  // namespace velgor
