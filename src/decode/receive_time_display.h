#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "config/relay_settings.h"
#include "log/message_log.h"

namespace velgor {

// The reference line of the relative-time display: the receiver clock count
// and the computer's time (whole Unix seconds) at that line.
struct TimeReference {
    int set = 0;
    std::uint64_t count = 0;
    std::int64_t seconds = 0;
};

// The receiver's clock count carried by an '@' line: characters 1..4 give the
// high 16 bits and characters 5..12 the low 32 bits, each field read as
// hexadecimal. A field's value is that of its leading hex digits (either case),
// up to the first other character; a field without any is 0. Nothing at or
// past the line's length or its NUL is read. For lines made from binary
// records this is exactly the record's timestamp.
std::uint64_t lineTimestamp(const char* line, std::size_t length);

// Whole seconds of the system's calendar clock.
std::int64_t systemClockSeconds();

// Stores every decoded line as the newest message log entry; in relative-time
// mode an '@' line gets two elapsed times in front: by the receiver's clock
// and by the computer's clock, both since a reference line.
class ReceiveTimeDisplay {
  public:
    using Clock = std::function<std::int64_t()>;

    ReceiveTimeDisplay(const RelaySettings& settings, MessageLog& log,
                       Clock clock = systemClockSeconds);

    // line: NUL-terminated, ending in CR LF; length without the NUL.
    void displayReceivedLine(const char* line, std::size_t length);

    int displayEnabled() const { return displayEnabled_; }
    void setDisplayEnabled(int enabled) { displayEnabled_ = enabled != 0 ? 1 : 0; }
    void toggleDisplayEnabled() { displayEnabled_ = displayEnabled_ != 0 ? 0 : 1; }

    int relativeTimeMode() const { return relativeTimeMode_; }
    // Switching the mode on clears the reference; switching it off keeps it.
    void setRelativeTimeMode(int on);
    void toggleRelativeTimeMode() { setRelativeTimeMode(relativeTimeMode_ != 0 ? 0 : 1); }

    const TimeReference& timeReference() const { return timeReference_; }
    // The next '@' line shown in relative-time mode becomes the reference
    // (also wanted when a new timer frequency is stored).
    void clearTimeReference() { timeReference_.set = 0; }

  private:
    void displayWithElapsedTimes(const char* line, std::size_t length);

    const RelaySettings& settings_;
    MessageLog& log_;
    Clock clock_;
    int displayEnabled_ = 1;
    int relativeTimeMode_ = 0;
    TimeReference timeReference_;
};

}  // namespace velgor
