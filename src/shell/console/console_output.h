#pragma once

#include <cstdio>
#include <string>

#include "log/message_log.h"

namespace velgor {

// The status pane of the console, printed as UTF-8 lines on a stream:
//  - Live (a terminal, a pipe): every status line when its text changes, and
//    every log line the pane shows;
//  - Journal (the service manager's journal): the status lines a link settles
//    on (not "Идет установление связи", nor the same failure once more after
//    another attempt) and only the relay's own messages (LOG_SHOW), not the
//    received traffic; summaries come from printText.
class ConsoleOutput : public PaneObserver {
  public:
    enum class Mode { Live, Journal };

    ConsoleOutput(const MessageLog& log, std::FILE* out, Mode mode = Mode::Live)
        : log_(log), out_(out), mode_(mode) {}

    void logLineShown(std::string_view text) override;
    void messageShown(std::string_view text) override;
    void statusLinesChanged() override;

    // One line of the program's own (UTF-8).
    void printText(const std::string& utf8);

  private:
    struct StatusLine {
        std::string current;
        std::string printed;
    };
    void showStatus(const std::string& line, StatusLine& shown);
    void printLine(std::string_view cp1251Text);

    const MessageLog& log_;
    std::FILE* out_;
    Mode mode_;
    StatusLine source_;
    StatusLine consumer_;
};

}  // namespace velgor
