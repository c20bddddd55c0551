#pragma once

#include <QFont>
#include <QLabel>
#include <QWidget>
#include <array>

#include "log/message_log.h"

namespace velgor {

// The main window's client area: 18 scrolling log lines and the two link
// status lines, each a plain text line 676 pixels wide and 16 high, wider than
// the window, so that a long text is cut off at its right edge. It draws what
// the message log reports.
class StatusPane : public QWidget, public PaneObserver {
  public:
    static constexpr int LINE_WIDTH = 676;
    static constexpr int LINE_HEIGHT = 16;
    static constexpr int SOURCE_STATUS_Y = 288;
    static constexpr int CONSUMER_STATUS_Y = 304;

    StatusPane(const MessageLog& log, QWidget* parent);

    // PaneObserver
    void logLineShown(std::string_view text) override;
    void statusLinesChanged() override;

    const QLabel* logLine(int index) const { return logLines_[static_cast<std::size_t>(index)]; }
    const QLabel* sourceStatusLine() const { return sourceStatus_; }
    const QLabel* consumerStatusLine() const { return consumerStatus_; }

    // A proportional face of about 8 points for the log lines and a fixed-pitch
    // face for the status lines.
    static QFont logFont();
    static QFont statusFont();

  private:
    QLabel* makeLine(int y, const QFont& font);
    void showAll();

    const MessageLog& log_;
    std::array<QLabel*, PANE_LOG_LINES> logLines_{};
    QLabel* sourceStatus_ = nullptr;
    QLabel* consumerStatus_ = nullptr;
};

}  // namespace velgor
