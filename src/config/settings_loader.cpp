#include "config/settings_loader.h"

#include <cstdio>
#include <iterator>
#include <new>
#include <stdexcept>
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

void loadSerialPort(const std::string& dir, RelaySettings& settings) {
    LineReader reader = LineReader::open(dir, SETTINGS_FILE_SERIAL);
    if (!reader.isOpen()) return;
    readIntoField(reader, settings.comPortName);
    readIntoField(reader, settings.comPortSpeed);
}

void loadIcaoList(const std::string& dir, RelaySettings& settings) {
    StdioFile file = openSettingsFileForReading(dir, SETTINGS_FILE_ICAO_LIST);
    if (!file) return;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return;
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return;
    const auto byteCount = static_cast<std::size_t>(length);
    std::vector<char> block;
    try {
        block.assign(byteCount + 1, '\0');  // zero-filled, so the text ends with a NUL
    } catch (const std::bad_alloc&) {
        return;  // no room for the list: nothing is read
    } catch (const std::length_error&) {
        return;
    }
    std::fread(block.data(), 1, byteCount, file.get());
    settings.icaoListText = std::move(block);
}

// The files read through one line buffer: when the very first read already
// finds the end of the file there is no line to take, and the values of that
// file keep what they held before (every later read of it would find the end
// too).

void loadUdp(const std::string& dir, RelaySettings& settings) {
    LineReader reader = LineReader::open(dir, SETTINGS_FILE_UDP);
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
[[nodiscard]] bool loadEndpoint(const std::string& dir, const char* fileName,
                                LinkEndpoint& endpoint) {
    LineReader reader = LineReader::open(dir, fileName);
    if (!reader.isOpen()) return false;
    readIntoField(reader, endpoint.host);
    endpoint.port = portFromInt(parseLenientInt(endpoint.host.c_str()));
    readIntoField(reader, endpoint.host);
    return true;
}

void loadModes(const std::string& dir, RelaySettings& settings) {
    LineReader reader = LineReader::open(dir, SETTINGS_FILE_MODES);
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

void loadPoint(const std::string& dir, RelaySettings& settings) {
    LineReader reader = LineReader::open(dir, SETTINGS_FILE_POINT);
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

void loadName(const std::string& dir, RelaySettings& settings) {
    LineReader reader = LineReader::open(dir, SETTINGS_FILE_NAME);
    ValueLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    cutAtLineEnd(line.data());
    settings.stationName = line.view();  // a longer name keeps its first 255 bytes
}

void loadIntegerFile(const std::string& dir, const char* fileName, std::int32_t& value) {
    LineReader reader = LineReader::open(dir, fileName);
    ValueLine line;
    if (!reader.readLine(line.data(), line.size())) return;
    cutAtLineEnd(line.data());
    value = parseLenientInt(line.c_str());
}

}  // namespace

void loadSettings(const std::string& dir, RelaySettings& settings, LinkEndpoint& local,
                  LinkEndpoint& source, LinkEndpoint& consumer) {
    loadSerialPort(dir, settings);
    loadIcaoList(dir, settings);
    loadUdp(dir, settings);
    if (loadEndpoint(dir, SETTINGS_FILE_LOCAL_LINK, local)) settings.localServerPort = local.port;
    // The two links' endpoints are used where they are: an absent file leaves the
    // defaults, and nothing else is derived from them.
    (void)loadEndpoint(dir, SETTINGS_FILE_SOURCE_LINK, source);
    loadModes(dir, settings);
    (void)loadEndpoint(dir, SETTINGS_FILE_CONSUMER_LINK, consumer);
    loadPoint(dir, settings);
    loadName(dir, settings);
    loadIntegerFile(dir, SETTINGS_FILE_THRESHOLD, settings.signalThreshold);  // no range check
    loadIntegerFile(dir, SETTINGS_FILE_COMPRESS_STEP, settings.compressTicks);
    loadIntegerFile(dir, SETTINGS_FILE_FREQUENCY, settings.timerFrequency);
}

void releaseSettings(RelaySettings& settings) {
    std::vector<char>().swap(settings.icaoListText);
}

}  // namespace velgor
