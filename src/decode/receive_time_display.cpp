#include "decode/receive_time_display.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "config/cp1251_literal.h"

namespace velgor {

namespace {

// The two elapsed times are labelled "by the receiver" and "by the computer".
constexpr auto& RECEIVER = cp1251<u8"прм">;
constexpr auto& COMPUTER = cp1251<u8"комп">;

// The elapsed times in front of the line take at most 6 + 20 + 9 + 20 + 5
// bytes (two 64-bit numbers in the widest format); the line itself is at most
// 1023 bytes and CR LF. What passes the log's 1023 bytes is cut there.
constexpr std::size_t PREFIX_BYTES = 96;
constexpr std::size_t COMPOSED_BYTES = PREFIX_BYTES + 1023 + 2 + 1;

constexpr std::int64_t SECONDS_PER_HOUR = 3600;
constexpr std::int64_t SECONDS_PER_MINUTE = 60;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::uint64_t hexField(const char* line, std::size_t length, std::size_t first, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = first; i < first + width && i < length; ++i) {
        const int digit = hexDigit(line[i]);  // the NUL is no digit either
        if (digit < 0) break;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value;
}

}  // namespace

std::uint64_t lineTimestamp(const char* line, std::size_t length) {
    return (hexField(line, length, 1, 4) << 32) | hexField(line, length, 5, 8);
}

std::int64_t systemClockSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

ReceiveTimeDisplay::ReceiveTimeDisplay(const RelaySettings& settings, MessageLog& log, Clock clock)
    : settings_(settings), log_(log), clock_(std::move(clock)) {}

void ReceiveTimeDisplay::setRelativeTimeMode(int on) {
    if (on != 0 && relativeTimeMode_ == 0) clearTimeReference();
    relativeTimeMode_ = on != 0 ? 1 : 0;
}

void ReceiveTimeDisplay::displayReceivedLine(const char* line, std::size_t length) {
    if (displayEnabled_ == 0) return;
    if (relativeTimeMode_ == 0 || length == 0 || line[0] != '@') {
        log_.storeNewest(line, length);
        return;
    }
    displayWithElapsedTimes(line, length);
}

void ReceiveTimeDisplay::displayWithElapsedTimes(const char* line, std::size_t length) {
    const std::uint64_t count = lineTimestamp(line, length);
    const std::int64_t now = clock_();
    if (timeReference_.set == 0) {
        timeReference_.count = count;
        timeReference_.seconds = now;
        timeReference_.set = 1;
    }
    const std::int64_t k = now - timeReference_.seconds;
    const auto frequency = static_cast<std::uint32_t>(settings_.timerFrequency);

    char text[COMPOSED_BYTES];
    int n = 0;
    if (frequency == 0) {
        // No clock rate, no receiver time: "прм = ?  комп = K     "
        n = std::snprintf(text, PREFIX_BYTES, "%s = ?  %s = %lld     ", RECEIVER, COMPUTER,
                          static_cast<long long>(k));
    } else {
        // Signed difference over the rate zero-extended, truncated toward zero:
        // a count below the reference gives a negative time.
        const auto difference = static_cast<std::int64_t>(count - timeReference_.count);
        const std::int64_t r = difference / static_cast<std::int64_t>(frequency);
        if (r >= SECONDS_PER_HOUR) {
            const auto r32 = static_cast<std::int32_t>(r);
            const auto k32 = static_cast<std::int32_t>(k);
            // "прм = %d:%02d:%02d  комп = %d:%02d:%02d     "
            n = std::snprintf(text, PREFIX_BYTES, "%s = %d:%02d:%02d  %s = %d:%02d:%02d     ",
                              RECEIVER, r32 / 3600, (r32 % 3600) / 60, (r32 % 3600) % 60, COMPUTER,
                              k32 / 3600, (k32 % 3600) / 60, k32 % 60);
        } else if (r >= SECONDS_PER_MINUTE) {
            const auto r32 = static_cast<std::int32_t>(r);
            const auto k32 = static_cast<std::int32_t>(k);
            // "прм = %02d:%02d  комп = %02d:%02d     ": minutes of K not reduced
            n = std::snprintf(text, PREFIX_BYTES, "%s = %02d:%02d  %s = %02d:%02d     ", RECEIVER,
                              r32 / 60, r32 % 60, COMPUTER, k32 / 60, k32 % 60);
        } else {
            // "прм = %.0f  комп = %.0f     "
            n = std::snprintf(text, PREFIX_BYTES, "%s = %.0f  %s = %.0f     ", RECEIVER,
                              static_cast<double>(r), COMPUTER, static_cast<double>(k));
        }
    }
    std::size_t prefix = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (prefix >= PREFIX_BYTES) prefix = PREFIX_BYTES - 1;
    const std::size_t room = COMPOSED_BYTES - 1 - prefix;
    const std::size_t copied = length < room ? length : room;
    std::memcpy(text + prefix, line, copied);
    text[prefix + copied] = '\0';
    log_.storeNewest(text, prefix + copied);
}

}  // namespace velgor
