#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "config/fixed_text.h"

namespace velgor {

// The first lines of a settings file as a settings dialog shows them on opening.
struct DialogFileLines {
    // Each from one 256-byte line read, cut at its line end; empty where the
    // file had no such line.
    std::array<Text256, 2> lines;
    int lineCount = 0;  // how many of the two reads delivered text
};

// Reads the first two lines of fileName in dir (empty = the working
// directory); nothing when the file cannot be opened. A one-value file uses
// lines[0]. A line longer than 255 bytes goes on in the next read, as at start-up.
[[nodiscard]] std::optional<DialogFileLines> readDialogLines(const std::string& dir,
                                                             std::string_view fileName);

}  // namespace velgor
