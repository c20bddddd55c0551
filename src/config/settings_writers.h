#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "config/relay_settings.h"

namespace velgor {

// Every writer rewrites its whole file in dir (empty = the working directory):
// each value is written followed by the platform's text line end. A writer
// returns true only when every byte of the new file was written and closed;
// when the file cannot be written nothing changes. The new content is written
// beside the file ("<name>.new") and then takes its place, so a write that fails
// part way (a full disk) leaves the old file whole; a link, a device or a file
// without write permission is written in place, and so is a writable file in a
// directory that takes no new file from this user. No writer reports anything else.
//
// Dialog texts are written byte for byte, as a dialog's edit field gives them:
// up to a NUL byte, and at most the 255 bytes that a field holds.

// The lines as given (no cut, no limit), each followed by a line end.
[[nodiscard]] bool writeSettingsLines(const std::string& dir, std::string_view fileName,
                                      std::initializer_list<std::string_view> lines);

// "BinarComOn.ini": binaryMode, compressEnabled, watchdogEnabled, noDataLimit, as decimals.
[[nodiscard]] bool saveModeFile(const std::string& dir, const RelaySettings& settings);

// "BinarComOn.ini" from the no-data limit dialog: the three flags as decimals,
// then the limit text as typed.
[[nodiscard]] bool writeLimitDialogModeFile(const std::string& dir, const RelaySettings& settings,
                                            std::string_view limitText);

// A link's endpoint file ("initmkp1.ini" or "initmkp2.ini"): port text, host text.
[[nodiscard]] bool writeEndpointFile(const std::string& dir, std::string_view fileName,
                                     std::string_view portText, std::string_view hostText);

// "point.ini": latitude text, longitude text (decimal degrees as typed).
[[nodiscard]] bool writePointFile(const std::string& dir, std::string_view latitudeText,
                                  std::string_view longitudeText);

// One-text files: "name.ini", "porog.ini", "time.ini", "frequency.ini".
[[nodiscard]] bool writeNameFile(const std::string& dir, std::string_view nameText);
[[nodiscard]] bool writeThresholdFile(const std::string& dir, std::string_view thresholdText);
[[nodiscard]] bool writeCompressStepFile(const std::string& dir, std::string_view ticksText);
[[nodiscard]] bool writeFrequencyFile(const std::string& dir, std::string_view frequencyText);

}  // namespace velgor
