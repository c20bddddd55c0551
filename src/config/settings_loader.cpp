#include "config/settings_loader.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "config/fixed_text.h"
#include "config/lenient_parse.h"
#include "config/line_reader.h"
#include "config/settings_file_names.h"

namespace velgor {
namespace {

// Line sizes of the bounded reads, per file.
constexpr std::size_t MODE_LINE_SIZE = 128;    // "BinarComOn.ini"
constexpr std::size_t VALUE_LINE_SIZE = 1024;  // "udp.ini", "point.ini", the one-value files

using ModeLine = FixedText<MODE_LINE_SIZE>;
using ValueLine = FixedText<VALUE_LINE_SIZE>;

// Reads straight into a text field, so a missing line leaves the field as it
// was; the field is cut at its line end either way.
template <std::size_t N>
void readIntoField(LineReader& reader, FixedText<N>& field) {
    (void)reader.readLine(field.data(), field.size());  // no line: the field keeps its text
    cutAtLineEnd(field.data());
}

void loadSerialPort(LineReader reader, RelaySettings& settings) {
    if (!reader.isOpen()) return;
    readIntoField(reader, settings.comPortName);
    readIntoField(reader, settings.comPortSpeed);
}

// The list's bytes with a NUL after them; nothing when there is no room for them.
std::optional<std::vector<char>> icaoListOf(std::string_view bytes) {
    try {
        std::vector<char> block(bytes.size() + 1, '\0');
        std::copy(bytes.begin(), bytes.end(), block.begin());
        return block;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

std::optional<std::vector<char>> readIcaoList(const std::string& dir) {
    StdioFile file = openSettingsFileForReading(dir, SETTINGS_FILE_ICAO_LIST);
    if (!file) return std::nullopt;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return std::nullopt;
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return std::nullopt;
    const auto byteCount = static_cast<std::size_t>(length);
    std::vector<char> block;
    try {
        block.assign(byteCount + 1, '\0');  // zero-filled, so the text ends with a NUL
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // no room for the list: nothing is read
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    std::fread(block.data(), 1, byteCount, file.get());
    return block;
}

// The files read through one line buffer: when the very first read already
// finds the end of the file there is no line to take, and the values of that
// file keep what they held before (every later read of it would find the end
// too).

void loadUdp(LineReader reader, RelaySettings& settings) {
    ValueLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    cutAtLineEnd(line.data());
    settings.udpPort = portFromInt(parseLenientInt(line.c_str()));
    // A missing second line leaves the buffer as it is: the address repeats line 1.
    (void)reader.readLine(line.data(), line.size());
    cutAtLineEnd(line.data());
    settings.udpAddress = line.view();
}

// Port line and host line, both read straight into the host field: with one
// line the host holds the port text, with none it keeps its old text and the
// port becomes that text's integer ("127.0.0.1" gives 127).
[[nodiscard]] bool loadEndpoint(LineReader reader, LinkEndpoint& endpoint) {
    if (!reader.isOpen()) return false;
    readIntoField(reader, endpoint.host);
    endpoint.port = portFromInt(parseLenientInt(endpoint.host.c_str()));
    readIntoField(reader, endpoint.host);
    return true;
}

void loadModes(LineReader reader, RelaySettings& settings) {
    ModeLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    // One shared buffer, no cut (the integer stops at the line end anyway): a
    // missing line repeats the previous one, so a lone "1" sets all four.
    std::int32_t* const values[] = {&settings.binaryMode, &settings.compressEnabled,
                                    &settings.watchdogEnabled, &settings.noDataLimit};
    *values[0] = parseLenientInt(line.c_str());
    for (std::size_t i = 1; i < std::size(values); ++i) {
        (void)reader.readLine(line.data(), line.size());
        *values[i] = parseLenientInt(line.c_str());
    }
}

void loadPoint(LineReader reader, RelaySettings& settings) {
    ValueLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    cutAtLineEnd(line.data());
    const double latitude = parseLenientReal(line.c_str());
    // A missing second line repeats the first: the longitude then equals the latitude.
    (void)reader.readLine(line.data(), line.size());
    cutAtLineEnd(line.data());
    const double longitude = parseLenientReal(line.c_str());
    settings.stationLatitude = latitude * ARC_SECONDS_PER_DEGREE;
    settings.stationLongitude = longitude * ARC_SECONDS_PER_DEGREE;
}

void loadName(LineReader reader, RelaySettings& settings) {
    ValueLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    cutAtLineEnd(line.data());
    settings.stationName = line.view();  // a longer name keeps its first 255 bytes
}

void loadIntegerFile(LineReader reader, std::int32_t& value) {
    ValueLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    cutAtLineEnd(line.data());
    value = parseLenientInt(line.c_str());
}

// The whole load, in the relay's fixed order, over files taken from `files`:
// lines(name) gives a reader (not open when the file is absent) and icaoList()
// the list's bytes with a NUL after them.
template <class Files>
void loadAll(const Files& files, RelaySettings& settings, LinkEndpoint& local, LinkEndpoint& source,
             LinkEndpoint& consumer) {
    loadSerialPort(files.lines(SETTINGS_FILE_SERIAL), settings);
    if (auto list = files.icaoList()) settings.icaoListText = std::move(*list);
    loadUdp(files.lines(SETTINGS_FILE_UDP), settings);
    if (loadEndpoint(files.lines(SETTINGS_FILE_LOCAL_LINK), local)) {
        settings.localServerPort = local.port;
    }
    // The two links' endpoints are used where they are: an absent file leaves the
    // defaults, and nothing else is derived from them.
    (void)loadEndpoint(files.lines(SETTINGS_FILE_SOURCE_LINK), source);
    loadModes(files.lines(SETTINGS_FILE_MODES), settings);
    (void)loadEndpoint(files.lines(SETTINGS_FILE_CONSUMER_LINK), consumer);
    loadPoint(files.lines(SETTINGS_FILE_POINT), settings);
    loadName(files.lines(SETTINGS_FILE_NAME), settings);
    // The threshold has no range check.
    loadIntegerFile(files.lines(SETTINGS_FILE_THRESHOLD), settings.signalThreshold);
    loadIntegerFile(files.lines(SETTINGS_FILE_COMPRESS_STEP), settings.compressTicks);
    loadIntegerFile(files.lines(SETTINGS_FILE_FREQUENCY), settings.timerFrequency);
}

// The files of a directory, read as the load asks for them.
struct DirectoryFiles {
    const std::string& dir;
    LineReader lines(const char* name) const { return LineReader::open(dir, name); }
    std::optional<std::vector<char>> icaoList() const { return readIcaoList(dir); }
};

// Files already in memory.
struct FilesInMemory {
    std::span<const SettingsFileBytes> files;

    const SettingsFileBytes* find(std::string_view name) const {
        for (const SettingsFileBytes& file : files) {
            if (file.name == name) return &file;
        }
        return nullptr;
    }
    LineReader lines(const char* name) const {
        const SettingsFileBytes* file = find(name);
        return file != nullptr ? LineReader(file->bytes) : LineReader(StdioFile());
    }
    std::optional<std::vector<char>> icaoList() const {
        const SettingsFileBytes* file = find(SETTINGS_FILE_ICAO_LIST);
        if (file == nullptr) return std::nullopt;
        return icaoListOf(file->bytes);
    }
};

}  // namespace

void loadSettings(const std::string& dir, RelaySettings& settings, LinkEndpoint& local,
                  LinkEndpoint& source, LinkEndpoint& consumer) {
    loadAll(DirectoryFiles{dir}, settings, local, source, consumer);
}

void loadSettingsFromBytes(std::span<const SettingsFileBytes> files, RelaySettings& settings,
                           LinkEndpoint& local, LinkEndpoint& source, LinkEndpoint& consumer) {
    loadAll(FilesInMemory{files}, settings, local, source, consumer);
}

void releaseSettings(RelaySettings& settings) {
    std::vector<char>().swap(settings.icaoListText);
}

}  // namespace velgor
