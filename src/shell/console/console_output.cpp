#include "shell/console/console_output.h"

#include "config/cp1251.h"

namespace velgor {

void ConsoleOutput::logLineShown(std::string_view text) {
    if (mode_ == Mode::Live) printLine(text);
}

void ConsoleOutput::messageShown(std::string_view text) {
    if (mode_ == Mode::Journal) printLine(text);
}

void ConsoleOutput::printText(const std::string& utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleOutput::statusLinesChanged() {
    if (log_.sourceStatusLine() != lastSource_) {
        lastSource_ = log_.sourceStatusLine();
        printLine(lastSource_);
    }
    if (log_.consumerStatusLine() != lastConsumer_) {
        lastConsumer_ = log_.consumerStatusLine();
        printLine(lastConsumer_);
    }
}

void ConsoleOutput::printLine(std::string_view cp1251Text) {
    // Received lines carry their own CR LF; the console ends each line once.
    while (!cp1251Text.empty() && (cp1251Text.back() == '\n' || cp1251Text.back() == '\r')) {
        cp1251Text.remove_suffix(1);
    }
    printText(cp1251ToUtf8(cp1251Text));
}

}  // namespace velgor
