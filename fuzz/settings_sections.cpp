#include "settings_sections.h"

#include <string_view>

#include "config/settings_file_names.h"

namespace velgor::fuzz {

namespace {

constexpr std::uint8_t FILE_BITS = 0x0F;
constexpr std::uint8_t CR_ONLY = 0x10;
constexpr std::uint8_t REPEATED = 0x20;
constexpr std::uint8_t DIRECTORY = 0x40;
constexpr std::size_t REPEAT_STEP = 24;
// No file grows beyond this, however it is repeated: eight times the longest
// bounded read (1024 bytes), so that a line still takes several reads, while a
// run stays short.
constexpr std::size_t FILE_BYTES_MAX = 1 << 13;

// In place: the text only shrinks.
void makeLoneCrs(std::string& bytes) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        bytes[out++] = bytes[i] == '\n' ? '\r' : bytes[i];
    }
    bytes.resize(out);
}

}  // namespace

const std::array<const char*, SETTINGS_FILE_COUNT> SETTINGS_FILES = {
    SETTINGS_FILE_SERIAL,        SETTINGS_FILE_ICAO_LIST,     SETTINGS_FILE_UDP,
    SETTINGS_FILE_LOCAL_LINK,    SETTINGS_FILE_SOURCE_LINK,   SETTINGS_FILE_MODES,
    SETTINGS_FILE_CONSUMER_LINK, SETTINGS_FILE_POINT,         SETTINGS_FILE_NAME,
    SETTINGS_FILE_THRESHOLD,     SETTINGS_FILE_COMPRESS_STEP, SETTINGS_FILE_FREQUENCY,
};

SettingsDirContent decodeSettingsSections(const std::uint8_t* data, std::size_t size) {
    SettingsDirContent dir;
    std::size_t pos = 0;
    while (pos + 3 <= size) {
        const std::uint8_t selector = data[pos];
        std::size_t length = std::size_t{data[pos + 1]} | std::size_t{data[pos + 2]} << 8;
        pos += 3;
        std::size_t repeat = 1;
        if ((selector & REPEATED) != 0 && pos < size) repeat += REPEAT_STEP * data[pos++];
        if (length > size - pos) length = size - pos;
        const std::string_view piece(reinterpret_cast<const char*>(data + pos), length);
        pos += length;

        const std::size_t index = selector & FILE_BITS;
        if (index >= SETTINGS_FILE_COUNT) continue;
        SettingsFileContent& file = dir[index];
        file.present = true;
        file.directory = (selector & DIRECTORY) != 0;
        file.bytes.clear();
        for (std::size_t i = 0; i < repeat && file.bytes.size() + piece.size() <= FILE_BYTES_MAX;
             ++i) {
            file.bytes += piece;
        }
        if ((selector & CR_ONLY) != 0) makeLoneCrs(file.bytes);
    }
    return dir;
}

std::string encodeSettingsSection(std::size_t fileIndex, const std::string& bytes, bool crOnly,
                                  std::uint8_t repeat) {
    std::string out;
    auto selector = static_cast<std::uint8_t>(fileIndex & FILE_BITS);
    if (crOnly) selector |= CR_ONLY;
    if (repeat != 0) selector |= REPEATED;
    out += static_cast<char>(selector);
    out += static_cast<char>(bytes.size() & 0xFF);
    out += static_cast<char>((bytes.size() >> 8) & 0xFF);
    if (repeat != 0) out += static_cast<char>(repeat);
    out += bytes;
    return out;
}

}  // namespace velgor::fuzz
