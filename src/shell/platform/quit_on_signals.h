#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "sys/unique_fd.h"

namespace velgor {

// Ends the event loop (exit code 0) on SIGINT or SIGTERM, as the Exit command
// does. The handler only writes a byte to a pipe; the loop reads it.
class QuitOnSignals : public QObject {
    Q_OBJECT
  public:
    QuitOnSignals();
    ~QuitOnSignals() override;

  private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velgor
