#include "config/settings_writers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "config/fixed_text.h"
#include "config/settings_file_names.h"
#include "config/settings_path.h"

namespace velgor {
namespace {

// The text a dialog field would hand over: up to its first NUL, at most 255 bytes.
std::string_view fieldText(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    return text.substr(0, Text256::capacity);
}

// A 32-bit integer as "%d" writes it.
class DecimalText {
  public:
    explicit DecimalText(std::int32_t value) {
        const auto result = std::to_chars(digits_.data(), digits_.data() + digits_.size(), value);
        length_ = static_cast<std::size_t>(result.ptr - digits_.data());
    }
    std::string_view view() const { return {digits_.data(), length_}; }

  private:
    std::array<char, 16> digits_{};
    std::size_t length_ = 0;
};

}  // namespace

namespace {

// Writes the lines into an open file; false if any byte was refused, including
// at the final flush (a full disk often shows only then).
bool writeLinesAndClose(std::FILE* file, std::initializer_list<std::string_view> lines,
                        bool syncToDisk) {
    bool written = true;
    for (std::string_view line : lines) {
        if (!line.empty() && std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
            written = false;
        }
        if (std::fputc('\n', file) == EOF) written = false;
    }
    if (std::fflush(file) != 0) written = false;
    if (written && syncToDisk && ::fsync(::fileno(file)) != 0) written = false;
    if (std::fclose(file) != 0) written = false;
    return written;
}

}  // namespace

bool writeSettingsLines(const std::string& dir, std::string_view fileName,
                        std::initializer_list<std::string_view> lines) {
    const std::string path = settingsPath(dir, fileName);
    struct stat existing {};
    const bool exists = ::lstat(path.c_str(), &existing) == 0;
    // A link, a device or a file the user may not write is written in place, as
    // it always was (through the link; refused when read-only).
    if (exists && (!S_ISREG(existing.st_mode) || ::access(path.c_str(), W_OK) != 0)) {
        std::FILE* file = std::fopen(path.c_str(), "w");
        if (file == nullptr) return false;
        return writeLinesAndClose(file, lines, false);
    }
    // Otherwise the new content goes into a file beside it, which then takes the
    // old one's place in one step: a full disk or a crash in the middle leaves
    // the old settings whole instead of an empty or cut file (which the next
    // start would read as defaults, the links pointing elsewhere).
    const std::string fresh = path + ".new";
    std::FILE* file = std::fopen(fresh.c_str(), "w");
    if (file == nullptr) return false;
    if (exists) ::fchmod(::fileno(file), existing.st_mode & 07777);
    if (!writeLinesAndClose(file, lines, true) || std::rename(fresh.c_str(), path.c_str()) != 0) {
        std::remove(fresh.c_str());
        return false;
    }
    return true;
}

bool saveModeFile(const std::string& dir, const RelaySettings& settings) {
    const DecimalText binary(settings.binaryMode);
    const DecimalText compress(settings.compressEnabled);
    const DecimalText watchdog(settings.watchdogEnabled);
    const DecimalText limit(settings.noDataLimit);
    return writeSettingsLines(dir, SETTINGS_FILE_MODES,
                              {binary.view(), compress.view(), watchdog.view(), limit.view()});
}

bool writeLimitDialogModeFile(const std::string& dir, const RelaySettings& settings,
                              std::string_view limitText) {
    const DecimalText binary(settings.binaryMode);
    const DecimalText compress(settings.compressEnabled);
    const DecimalText watchdog(settings.watchdogEnabled);
    return writeSettingsLines(
        dir, SETTINGS_FILE_MODES,
        {binary.view(), compress.view(), watchdog.view(), fieldText(limitText)});
}

bool writeEndpointFile(const std::string& dir, std::string_view fileName, std::string_view portText,
                       std::string_view hostText) {
    return writeSettingsLines(dir, fileName, {fieldText(portText), fieldText(hostText)});
}

bool writePointFile(const std::string& dir, std::string_view latitudeText,
                    std::string_view longitudeText) {
    return writeSettingsLines(dir, SETTINGS_FILE_POINT,
                              {fieldText(latitudeText), fieldText(longitudeText)});
}

bool writeNameFile(const std::string& dir, std::string_view nameText) {
    return writeSettingsLines(dir, SETTINGS_FILE_NAME, {fieldText(nameText)});
}

bool writeThresholdFile(const std::string& dir, std::string_view thresholdText) {
    return writeSettingsLines(dir, SETTINGS_FILE_THRESHOLD, {fieldText(thresholdText)});
}

bool writeCompressStepFile(const std::string& dir, std::string_view ticksText) {
    return writeSettingsLines(dir, SETTINGS_FILE_COMPRESS_STEP, {fieldText(ticksText)});
}

bool writeFrequencyFile(const std::string& dir, std::string_view frequencyText) {
    return writeSettingsLines(dir, SETTINGS_FILE_FREQUENCY, {fieldText(frequencyText)});
}

}  // namespace velgor
