#pragma once

#include <windows.h>

#include <array>

#include "log/message_log.h"

namespace velgor {

// The main window's client area on plain "STATIC" children: 18 scrolling log
// lines and the two link status lines, each 676 pixels wide (wider than the
// window, so a long text is cut off at its right edge) and 16 high. It draws
// what the message log reports; the log lines keep no other copy of what they
// show (scrolling reads each line's text back from the line itself).
class StatusLines : public PaneObserver {
  public:
    static constexpr int LINE_WIDTH = 676;
    static constexpr int LINE_HEIGHT = 16;
    static constexpr int SOURCE_STATUS_Y = 288;
    static constexpr int CONSUMER_STATUS_Y = 304;

    explicit StatusLines(const MessageLog& log) : log_(log) {}

    // The 18 log lines from the top down, each given the log font as it is made,
    // then the source and the consumer status lines with the status font.
    void create(HWND parent, HINSTANCE instance, HFONT logFont, HFONT statusFont);

    // PaneObserver
    void logLineShown(std::string_view text) override;
    void statusLinesChanged() override;

    HWND logLine(int index) const { return logLines_[static_cast<std::size_t>(index)]; }
    HWND sourceStatusLine() const { return sourceStatus_; }
    HWND consumerStatusLine() const { return consumerStatus_; }

  private:
    const MessageLog& log_;
    std::array<HWND, PANE_LOG_LINES> logLines_{};
    HWND sourceStatus_ = nullptr;
    HWND consumerStatus_ = nullptr;
};

}  // namespace velgor
