#include "config/dialog_file_reader.h"

#include "config/lenient_parse.h"
#include "config/line_reader.h"

namespace velgor {

std::optional<DialogFileLines> readDialogLines(const std::string& dir, std::string_view fileName) {
    LineReader reader = LineReader::open(dir, fileName);
    if (!reader.isOpen()) return std::nullopt;
    DialogFileLines result;
    for (Text256& line : result.lines) {
        if (!reader.readLine(line.data(), line.size())) break;
        cutAtLineEnd(line.data());
        ++result.lineCount;
    }
    return result;
}

}  // namespace velgor
