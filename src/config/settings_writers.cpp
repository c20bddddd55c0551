#include "config/settings_writers.h"

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

bool writeSettingsLines(const std::string& dir, std::string_view fileName,
                        std::initializer_list<std::string_view> lines) {
    const std::string path = settingsPath(dir, fileName);
    // Text mode: '\n' becomes the platform's line end (CR LF under Windows).
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    bool written = true;
    for (std::string_view line : lines) {
        if (!line.empty() && std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
            written = false;
        }
        if (std::fputc('\n', file) == EOF) written = false;
    }
    // A full disk often shows only when the buffered bytes are flushed at close.
    if (std::fclose(file) != 0) written = false;
    return written;
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
