#include "config/settings_writers.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "config/fixed_text.h"
#include "config/settings_file_names.h"
#include "config/settings_path.h"
#include "sys/file_ops.h"

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
[[nodiscard]] bool writeLinesAndClose(std::FILE* file,
                                      std::initializer_list<std::string_view> lines, bool durable) {
    bool written = true;
    for (std::string_view line : lines) {
        if (!line.empty() && std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
            written = false;
        }
        if (std::fputc('\n', file) == EOF) written = false;
    }
    if (std::fflush(file) != 0) written = false;
    if (written && durable && !syncToDisk(file)) written = false;
    if (std::fclose(file) != 0) written = false;
    return written;
}

// Whether a file operation failed for want of permission, not of room.
bool refusedByPermission(int error) {
    return error == EACCES || error == EPERM;
}

// Truncates the file and writes the lines into it, as a plain fopen "w" does.
[[nodiscard]] bool writeInPlace(const std::string& path,
                                std::initializer_list<std::string_view> lines) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    return writeLinesAndClose(file, lines, false);
}

}  // namespace

bool writeSettingsLines(const std::string& dir, std::string_view fileName,
                        std::initializer_list<std::string_view> lines) {
    const std::string path = settingsPath(dir, fileName);
    const ReplaceTarget existing = examineReplaceTarget(path);
    // A link, a device or a file the user may not write is written in place, as
    // it always was (through the link; refused when read-only).
    if (existing.exists && !existing.replaceable) return writeInPlace(path, lines);
    // Otherwise the new content goes into a file beside it, which then takes the
    // old one's place in one step: a full disk or a crash in the middle leaves
    // the old settings whole instead of an empty or cut file (which the next
    // start would read as defaults, the links pointing elsewhere).
    const std::string fresh = path + ".new";
    std::FILE* file = std::fopen(fresh.c_str(), "w");
    if (file == nullptr) {
        // A directory that takes no new file from this user (a service user who
        // owns the settings files but not the directory): the file itself is
        // rewritten in place. A full disk is no reason to cut the old file.
        return refusedByPermission(errno) && writeInPlace(path, lines);
    }
    takeOverPermissions(file, existing);
    if (!writeLinesAndClose(file, lines, true)) {
        std::remove(fresh.c_str());
        return false;
    }
    if (const int error = replaceFile(fresh, path); error != 0) {
        // The new content was written whole but may not take the file's place:
        // a "<name>.new" left writable in such a directory, a sticky directory,
        // a file mounted on its own (on Windows a file another program holds
        // open). The file is rewritten in place then.
        std::remove(fresh.c_str());
        return (refusedByPermission(error) || error == EBUSY) && writeInPlace(path, lines);
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
