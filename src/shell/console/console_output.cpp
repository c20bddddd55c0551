#include "shell/console/console_output.h"

#include "config/cp1251.h"
#include "feed/consumer_sender.h"
#include "links/link_texts.h"

namespace velgor {

void ConsoleOutput::logLineShown(std::string_view text) {
    if (mode_ == Mode::Live) printLine(text);
}

void ConsoleOutput::messageShown(std::string_view text) {
    // Compression's routine notes reach the journal as the summary's figures.
    if (mode_ == Mode::Journal && !isCompressionNote(text)) printLine(text);
}

void ConsoleOutput::printText(const std::string& utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleOutput::statusLinesChanged() {
    showStatus(log_.sourceStatusLine(), source_);
    showStatus(log_.consumerStatusLine(), consumer_);
}

void ConsoleOutput::showStatus(const std::string& line, StatusLine& shown) {
    if (line == shown.current) return;
    shown.current = line;
    // A link that cannot connect goes from attempt to failure every cycle: the
    // journal keeps the failure once, until something else happens.
    if (mode_ == Mode::Journal &&
        (line.ends_with(link_texts::CONNECTING) || line == shown.printed)) {
        return;
    }
    shown.printed = line;
    printLine(line);
}

void ConsoleOutput::printLine(std::string_view cp1251Text) {
    // Received lines carry their own CR LF; the console ends each line once.
    while (!cp1251Text.empty() && (cp1251Text.back() == '\n' || cp1251Text.back() == '\r')) {
        cp1251Text.remove_suffix(1);
    }
    printText(cp1251ToUtf8(cp1251Text));
}

}  // namespace velgor
