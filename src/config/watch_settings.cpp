#include "config/watch_settings.h"

#include "config/fixed_text.h"
#include "config/lenient_parse.h"
#include "config/line_reader.h"
#include "config/settings_file_names.h"

namespace velgor {
namespace {

constexpr std::size_t WATCH_LINE_SIZE = 1024;

WatchSettings readWatchSettings(LineReader reader) {
    WatchSettings watch;
    FixedText<WATCH_LINE_SIZE> line;
    if (!reader.readLine(line.data(), line.size())) return watch;
    cutAtLineEnd(line.data());
    watch.intervalSeconds = parseLenientInt(line.c_str());
    // Unlike the older files, a missing second line does not repeat the first:
    // it leaves the metrics in the working directory.
    FixedText<WATCH_LINE_SIZE> directory;
    if (reader.readLine(directory.data(), directory.size())) {
        cutAtLineEnd(directory.data());
        watch.metricsDirectory = directory.c_str();
    }
    return watch;
}

}  // namespace

WatchSettings loadWatchSettings(const std::string& dir) {
    return readWatchSettings(LineReader::open(dir, SETTINGS_FILE_WATCH));
}

WatchSettings loadWatchSettingsFromBytes(std::string_view bytes) {
    return readWatchSettings(LineReader(bytes));
}

}  // namespace velgor
