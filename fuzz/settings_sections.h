#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velgor::fuzz {

// The settings files a fuzz input may hold, in the order the loader reads them.
inline constexpr std::size_t SETTINGS_FILE_COUNT = 12;
extern const std::array<const char*, SETTINGS_FILE_COUNT> SETTINGS_FILES;

struct SettingsFileContent {
    bool present = false;
    bool directory = false;  // a directory carries the file's name
    std::string bytes;
};
using SettingsDirContent = std::array<SettingsFileContent, SETTINGS_FILE_COUNT>;

// A fuzz input as a set of settings files. The input is a run of sections:
//   selector, length low byte, length high byte, [repeat byte], content
// The selector's low 4 bits pick the file (12..15: none); bit 4 turns every line
// end into a lone CR; bit 5 adds the repeat byte r, and the content is written
// 1 + 24 * r times, up to 8 KB (so long lines cost few input bytes); bit 6 makes a directory
// of that name instead. A later section for the same file replaces an earlier one.
SettingsDirContent decodeSettingsSections(const std::uint8_t* data, std::size_t size);

// The plain section for one file (for seeds).
std::string encodeSettingsSection(std::size_t fileIndex, const std::string& bytes,
                                  bool crOnly = false, std::uint8_t repeat = 0);

}  // namespace velgor::fuzz
