#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "decode/line_outlet.h"

namespace velgor::test {

// Keeps every line the decoder hands over, and checks the hand-over: NUL-terminated lines, in the
// order forward (if any), show, finish.
struct RecordingOutlet : LineOutlet {
    std::vector<std::string> forwarded;
    std::vector<std::string> shown;
    int finished = 0;
    bool broken = false;

    void forwardLine(const char* line, std::size_t length) override {
        if (shown.size() != static_cast<std::size_t>(finished)) broken = true;
        forwarded.emplace_back(line, length);
    }
    void showLine(const char* line, std::size_t length) override {
        if (line[length] != '\0' || std::strlen(line) != length) broken = true;
        shown.emplace_back(line, length);
    }
    void lineFinished() override {
        if (shown.size() != static_cast<std::size_t>(finished) + 1) broken = true;
        ++finished;
    }
};

}  // namespace velgor::test
