#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velgor {

// Modes of logMessage.
enum LogMode : int {
    LOG_STORE = 0,        // store the text as the newest slot; show nothing now
    LOG_SHOW = 1,         // show the text at once as the new bottom log line
    LOG_SHOW_NEWEST = 3,  // per-tick step: show the newest stored text if not yet shown
};

inline constexpr int LOG_SLOT_COUNT = 30;
inline constexpr std::size_t LOG_SLOT_BYTES = 1024;  // a slot holds 1023 bytes and a NUL
inline constexpr int PANE_LOG_LINES = 18;

// Told about every change of what the status pane shows, so that a front end
// can draw it (a window) or print it (the console).
class PaneObserver {
  public:
    virtual ~PaneObserver() = default;
    virtual void logLineShown(std::string_view text) = 0;  // new bottom line (line 17)
    virtual void statusLinesChanged() = 0;
    // A line shown with LOG_SHOW: a message of the relay's own (a compression
    // note, an error), not received traffic. Told after its logLineShown.
    virtual void messageShown(std::string_view /*text*/) {}
};

// The traffic log behind the status pane: a ring of 30 stored texts, of which
// the per-tick step shows only the newest, and the model of the 18 scrolling
// log lines and the two link status lines. Main thread only.
class MessageLog {
  public:
    MessageLog();

    // text: NUL-terminated; more than 1023 bytes are cut to fit a slot. Modes
    // other than LOG_STORE and LOG_SHOW act as LOG_SHOW_NEWEST, which ignores
    // the text (it may be null).
    void logMessage(const char* text, int mode);
    // LOG_STORE with a known length (the decoder's hot path): one bounded copy,
    // no strlen, no allocation. More than 1023 bytes are cut.
    void storeNewest(const char* text, std::size_t length);

    int newestSlot() const { return newestSlot_; }
    int shownSlot() const { return shownSlot_; }
    const char* slotText(int slot) const { return slots_[static_cast<std::size_t>(slot)].data(); }

    // Line 0 is the top log line, line 17 the bottom (newest) one.
    std::string_view logLine(int line) const;

    // The two status lines, formatted from the link slots' port and status text.
    // A status text is read up to its first NUL and at most 255 bytes, the size
    // of a link slot's text field.
    void refreshStatusLines(std::uint16_t sourcePort, std::string_view sourceStatus,
                            std::uint16_t consumerPort, std::string_view consumerStatus);
    const std::string& sourceStatusLine() const { return sourceStatusLine_; }
    const std::string& consumerStatusLine() const { return consumerStatusLine_; }

    void setObserver(PaneObserver* observer) { observer_ = observer; }

  private:
    void scrollIn(const char* text, std::size_t length);

    std::array<std::array<char, LOG_SLOT_BYTES>, LOG_SLOT_COUNT> slots_{};
    int newestSlot_ = 0;
    int shownSlot_ = 0;
    // The 18 log lines as a ring, so that scrolling moves an index instead of
    // 17 texts: line i is lineText_[(top_ + i) % 18].
    std::array<std::array<char, LOG_SLOT_BYTES>, PANE_LOG_LINES> lineText_{};
    std::array<std::size_t, PANE_LOG_LINES> lineLength_{};
    int top_ = 0;
    std::string sourceStatusLine_;
    std::string consumerStatusLine_;
    PaneObserver* observer_ = nullptr;
};

// "Клиент: %5d  %s" and "Клиент: % 5d  %s" (the texts are Windows-1251 bytes).
std::string formatSourceStatusLine(std::uint16_t port, std::string_view statusText);
std::string formatConsumerStatusLine(std::uint16_t port, std::string_view statusText);

}  // namespace velgor
