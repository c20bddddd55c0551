#include "settings_model.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "clamped_int.h"

namespace velgor::fuzz {

namespace {

constexpr std::size_t FIELD_TEXT_MAX = 255;

enum FileIndex : std::size_t {
    SERIAL,
    ICAO,
    UDP,
    LOCAL,
    SOURCE,
    MODES,
    CONSUMER,
    POINT,
    NAME,
    THRESHOLD,
    TICKS,
    FREQUENCY
};

// The successive bounded reads of a text-mode file: each takes at most n - 1
// characters, up to and including the next LF, where a CR right before an LF reads
// as nothing and any other CR as itself.
class ModelReads {
  public:
    explicit ModelReads(const SettingsFileContent& file)
        : open_(file.present && !file.directory), bytes_(file.bytes) {}

    bool isOpen() const { return open_; }

    std::optional<std::string> next(std::size_t n) {
        if (!open_) return std::nullopt;
        std::string line;
        while (line.size() + 1 < n && pos_ < bytes_.size()) {
            char c = bytes_[pos_++];
            if (c == '\r' && pos_ < bytes_.size() && bytes_[pos_] == '\n') c = bytes_[pos_++];
            line += c;
            if (c == '\n') break;
        }
        if (line.empty()) return std::nullopt;
        return line;
    }

  private:
    bool open_;
    const std::string& bytes_;
    std::size_t pos_ = 0;
};

// The text a field keeps: up to the first NUL (the read's text ends there), CR or LF.
std::string valueOf(const std::string& read) {
    return read.substr(0, read.find_first_of(std::string("\r\n\0", 3)));
}

std::string fieldText(const std::string& text) {
    return text.substr(0, FIELD_TEXT_MAX);
}

std::uint16_t portOf(const std::string& text) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(velgor::fuzz::clampedInt32(text)) &
                                      0xFFFFu);
}

// The settings rules read decimal numbers only: any other text (inf, nan, a
// hexadecimal form) is 0 there, and 0x... stops after its 0. strtod agrees on
// decimal numbers; a number out of its range (where strtod may give a subnormal
// and the rules give 0) is left unchecked.
std::optional<double> realOf(const std::string& text) {
    std::size_t p = text.find_first_not_of(" \t\n\v\f\r");
    if (p == std::string::npos) return 0.0;
    if (text[p] == '+' || text[p] == '-') ++p;
    const bool decimal =
        p < text.size() && ((text[p] >= '0' && text[p] <= '9') || text[p] == '.') &&
        !(text[p] == '0' && p + 1 < text.size() && (text[p + 1] == 'x' || text[p + 1] == 'X'));
    if (!decimal) return 0.0;
    errno = 0;
    const double value = std::strtod(text.c_str(), nullptr);
    if (errno == ERANGE) return std::nullopt;
    return value;
}

void loadEndpoint(const SettingsFileContent& file, ModelEndpoint& endpoint) {
    ModelReads reads(file);
    if (const auto line = reads.next(256)) endpoint.host = valueOf(*line);
    endpoint.port = portOf(endpoint.host);
    if (const auto line = reads.next(256)) endpoint.host = valueOf(*line);
}

}  // namespace

ModelSettings modelLoad(const SettingsDirContent& dir) {
    ModelSettings m;
    {
        ModelReads reads(dir[SERIAL]);
        if (const auto line = reads.next(256)) m.comPortName = valueOf(*line);
        if (const auto line = reads.next(256)) m.comPortSpeed = valueOf(*line);
    }
    if (dir[ICAO].present && !dir[ICAO].directory) {
        m.icaoListText.assign(dir[ICAO].bytes.begin(), dir[ICAO].bytes.end());
        m.icaoListText.push_back('\0');
    }
    {
        ModelReads reads(dir[UDP]);
        if (const auto first = reads.next(1024)) {
            m.udpPort = portOf(valueOf(*first));
            const auto second = reads.next(1024);
            m.udpAddress = fieldText(valueOf(second ? *second : *first));
        }
    }
    if (ModelReads(dir[LOCAL]).isOpen()) {
        loadEndpoint(dir[LOCAL], m.local);
        m.localServerPort = m.local.port;
    }
    if (ModelReads(dir[SOURCE]).isOpen()) loadEndpoint(dir[SOURCE], m.source);
    {
        // One line buffer, no cut: a missing line leaves the one before in it.
        ModelReads reads(dir[MODES]);
        if (auto line = reads.next(128)) {
            std::int32_t* const values[] = {&m.binaryMode, &m.compressEnabled, &m.watchdogEnabled,
                                            &m.noDataLimit};
            for (std::int32_t* value : values) {
                *value = velgor::fuzz::clampedInt32(*line);
                if (auto again = reads.next(128)) line = again;
            }
        }
    }
    if (ModelReads(dir[CONSUMER]).isOpen()) loadEndpoint(dir[CONSUMER], m.consumer);
    {
        ModelReads reads(dir[POINT]);
        if (const auto first = reads.next(1024)) {
            const auto second = reads.next(1024);
            const auto latitude = realOf(valueOf(*first));
            const auto longitude = realOf(valueOf(second ? *second : *first));
            m.coordinatesKnown = latitude.has_value() && longitude.has_value();
            m.latitudeDegrees = latitude.value_or(0.0);
            m.longitudeDegrees = longitude.value_or(0.0);
        }
    }
    {
        ModelReads reads(dir[NAME]);
        if (const auto line = reads.next(1024)) m.stationName = fieldText(valueOf(*line));
    }
    const std::pair<FileIndex, std::int32_t*> numbers[] = {
        {THRESHOLD, &m.signalThreshold}, {TICKS, &m.compressTicks}, {FREQUENCY, &m.timerFrequency}};
    for (const auto& [index, value] : numbers) {
        ModelReads reads(dir[index]);
        if (const auto line = reads.next(1024)) *value = velgor::fuzz::clampedInt32(valueOf(*line));
    }
    return m;
}

}  // namespace velgor::fuzz
