// Fuzzes the read of "watch.ini" (line 1 the status interval in seconds, line 2
// the metrics directory): the input is the file's bytes (any bytes: NUL bytes,
// lone CRs, CR LF, no line end, lines longer than the 1023 bytes one read takes),
// read through loadWatchSettingsFromBytes (the entry loadWatchSettings reads the
// file through). The interval and the directory must equal what the file rules
// give, worked out independently: CR LF folded into LF over the whole file first,
// then reads of at most 1023 bytes each ending after an LF, a value ending at its
// first NUL, CR or LF, and the number read by strtoll and clamped to 32 bits.
//
// Input: the file's bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "clamped_int.h"
#include "config/watch_settings.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t READ_LIMIT = 1023;  // bytes one bounded read takes

// The file's text as a text-mode stream gives it: every CR LF becomes LF.
std::string foldedLineEnds(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

// The next bounded read from `at`: up to and including an LF, at most READ_LIMIT
// bytes; empty at the end of the text.
std::string_view nextRead(std::string_view text, std::size_t& at) {
    const std::string_view rest = text.substr(at);
    const std::size_t lf = rest.find('\n');
    const std::size_t length = lf == std::string_view::npos ? rest.size() : lf + 1;
    const std::string_view read = rest.substr(0, length < READ_LIMIT ? length : READ_LIMIT);
    at += read.size();
    return read;
}

std::string_view valueOf(std::string_view read) {
    return read.substr(0, read.find_first_of(std::string_view("\r\n\0", 3)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const velgor::WatchSettings watch = velgor::loadWatchSettingsFromBytes(bytes);

    const std::string text = foldedLineEnds(bytes);
    std::size_t at = 0;
    const std::string_view first = nextRead(text, at);
    const std::string_view second = nextRead(text, at);
    // No first read leaves the defaults; no second one leaves the directory empty.
    const std::int32_t interval = first.empty() ? 0 : velgor::fuzz::clampedInt32(valueOf(first));
    const std::string_view directory = valueOf(second);

    FUZZ_CHECK(watch.intervalSeconds == interval, "interval");
    FUZZ_CHECK(watch.metricsDirectory.size() <= READ_LIMIT, "directory longer than a read");
    FUZZ_CHECK(
        watch.metricsDirectory.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
        "line end or NUL in the directory");
    FUZZ_CHECK(watch.metricsDirectory == directory, "directory");
    return 0;
}
