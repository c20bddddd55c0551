#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "shell/platform/quit_signal_pipe.h"

namespace velgor {

// Ends Qt's event loop (exit code 0) on SIGINT or SIGTERM, as the Exit command
// does: a notifier on the quit pipe.
class QuitOnSignals : public QObject {
    Q_OBJECT
  public:
    QuitOnSignals();
    ~QuitOnSignals() override;

  private:
    QuitSignalPipe pipe_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velgor
