#pragma once

#include <cstdio>
#include <string>

#include "log/message_log.h"

namespace velgor {

// The status pane of the console: every log line the pane shows, and every
// status line when its text changes, printed as UTF-8 lines on a stream.
class ConsoleOutput : public PaneObserver {
  public:
    ConsoleOutput(const MessageLog& log, std::FILE* out) : log_(log), out_(out) {}

    void logLineShown(std::string_view text) override;
    void statusLinesChanged() override;

  private:
    void printLine(std::string_view cp1251Text);

    const MessageLog& log_;
    std::FILE* out_;
    std::string lastSource_;
    std::string lastConsumer_;
};

}  // namespace velgor
