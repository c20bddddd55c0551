#include "log/message_log.h"

#include <cstdio>
#include <cstring>

#include "config/cp1251_literal.h"

namespace velgor {

namespace {

constexpr auto& CLIENT = cp1251<u8"Клиент">;

constexpr std::size_t MAX_TEXT_BYTES = LOG_SLOT_BYTES - 1;
// A link slot's status text field holds 255 bytes and its NUL.
constexpr std::size_t MAX_STATUS_TEXT_BYTES = 255;
// "Клиент: " (8 bytes), a port of at most 6 characters, two blanks, the text.
constexpr std::size_t STATUS_LINE_BYTES = 8 + 6 + 2 + MAX_STATUS_TEXT_BYTES + 1;

// A copy tuned for the short lines of the decoder (20 to 44 bytes, display
// prefixes a little more): two or four overlapping 16-byte moves instead of a
// string instruction whose start-up costs more than the whole line.
void copyText(char* to, const char* from, std::size_t length) {
    if (length >= 16 && length <= 64) {
        std::memcpy(to, from, 16);
        std::memcpy(to + length - 16, from + length - 16, 16);
        if (length > 32) {
            std::memcpy(to + 16, from + 16, 16);
            std::memcpy(to + length - 32, from + length - 32, 16);
        }
    } else {
        std::memcpy(to, from, length);
    }
}

std::size_t boundedLength(const char* text) {
    return text == nullptr ? 0 : strnlen(text, MAX_TEXT_BYTES);
}

// The status text as the formats' %s sees it: up to its first NUL, and never
// more than the 255 bytes of its field.
int statusTextLength(std::string_view statusText) {
    const std::size_t limit =
        statusText.size() < MAX_STATUS_TEXT_BYTES ? statusText.size() : MAX_STATUS_TEXT_BYTES;
    if (limit == 0) return 0;
    const void* nul = std::memchr(statusText.data(), '\0', limit);
    const std::size_t length =
        nul == nullptr
            ? limit
            : static_cast<std::size_t>(static_cast<const char*>(nul) - statusText.data());
    return static_cast<int>(length);
}

std::size_t formattedLength(int n) {
    if (n < 0) return 0;
    const auto length = static_cast<std::size_t>(n);
    return length < STATUS_LINE_BYTES ? length : STATUS_LINE_BYTES - 1;
}

// The two links' status lines differ only in the port's field: the consumer's
// format has the space flag, which puts a blank before a five-digit port.
enum class PortField { Plain, SpaceFlag };

std::size_t writeStatusLine(char (&line)[STATUS_LINE_BYTES], PortField field, std::uint16_t port,
                            std::string_view statusText) {
    const int length = statusTextLength(statusText);
    return formattedLength(std::snprintf(
        line, sizeof line, field == PortField::SpaceFlag ? "%s: % 5d  %.*s" : "%s: %5d  %.*s",
        CLIENT, static_cast<int>(port), length, length == 0 ? "" : statusText.data()));
}

}  // namespace

MessageLog::MessageLog() {
    // Reserved once, so that refreshing the status lines never allocates.
    sourceStatusLine_.reserve(STATUS_LINE_BYTES);
    consumerStatusLine_.reserve(STATUS_LINE_BYTES);
}

void MessageLog::logMessage(const char* text, int mode) {
    switch (mode) {
        case LOG_STORE:
            storeNewest(text == nullptr ? "" : text, boundedLength(text));
            return;
        case LOG_SHOW:
            scrollIn(text == nullptr ? "" : text, boundedLength(text));
            if (observer_ != nullptr) observer_->messageShown(logLine(PANE_LOG_LINES - 1));
            return;
        default:
            // Only the index is compared: thirty stores between two ticks bring
            // newestSlot back to shownSlot, and then nothing is shown.
            if (newestSlot_ == shownSlot_) return;
            shownSlot_ = newestSlot_;
            const char* newest = slots_[static_cast<std::size_t>(newestSlot_)].data();
            scrollIn(newest, strnlen(newest, MAX_TEXT_BYTES));
            return;
    }
}

void MessageLog::storeNewest(const char* text, std::size_t length) {
    newestSlot_ = newestSlot_ >= LOG_SLOT_COUNT - 1 ? 0 : newestSlot_ + 1;
    if (length > MAX_TEXT_BYTES) length = MAX_TEXT_BYTES;
    char* slot = slots_[static_cast<std::size_t>(newestSlot_)].data();
    copyText(slot, text, length);
    slot[length] = '\0';
}

std::string_view MessageLog::logLine(int line) const {
    if (line < 0 || line >= PANE_LOG_LINES) return {};
    const auto index = static_cast<std::size_t>((top_ + line) % PANE_LOG_LINES);
    return std::string_view(lineText_[index].data(), lineLength_[index]);
}

void MessageLog::scrollIn(const char* text, std::size_t length) {
    if (length > MAX_TEXT_BYTES) length = MAX_TEXT_BYTES;
    // The old top line becomes the new bottom line, and every other line moves
    // up by one.
    const auto bottom = static_cast<std::size_t>(top_);
    top_ = (top_ + 1) % PANE_LOG_LINES;
    std::memcpy(lineText_[bottom].data(), text, length);
    lineText_[bottom][length] = '\0';
    lineLength_[bottom] = length;
    if (observer_ != nullptr) {
        observer_->logLineShown(std::string_view(lineText_[bottom].data(), length));
    }
}

void MessageLog::refreshStatusLines(std::uint16_t sourcePort, std::string_view sourceStatus,
                                    std::uint16_t consumerPort, std::string_view consumerStatus) {
    // Formatted into the reserved strings' room: a refresh allocates nothing.
    char line[STATUS_LINE_BYTES];
    sourceStatusLine_.assign(line,
                             writeStatusLine(line, PortField::Plain, sourcePort, sourceStatus));
    consumerStatusLine_.assign(
        line, writeStatusLine(line, PortField::SpaceFlag, consumerPort, consumerStatus));
    if (observer_ != nullptr) observer_->statusLinesChanged();
}

std::string formatSourceStatusLine(std::uint16_t port, std::string_view statusText) {
    char line[STATUS_LINE_BYTES];
    return std::string(line, writeStatusLine(line, PortField::Plain, port, statusText));
}

std::string formatConsumerStatusLine(std::uint16_t port, std::string_view statusText) {
    char line[STATUS_LINE_BYTES];
    return std::string(line, writeStatusLine(line, PortField::SpaceFlag, port, statusText));
}

}  // namespace velgor
