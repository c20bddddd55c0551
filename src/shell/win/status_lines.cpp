#include "shell/win/status_lines.h"

#include <string>

#include "shell/win/win_text.h"

namespace velgor {

namespace {

// Log texts hold at most 1023 bytes and their terminating zero.
constexpr int LINE_TEXT_MAX = 1024;

HWND makeLine(HWND parent, HINSTANCE instance, int y, HFONT font) {
    // Control identifier -1: the lines send no notifications anyone reads.
    HWND line = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, y,
                                  StatusLines::LINE_WIDTH, StatusLines::LINE_HEIGHT, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), instance,
                                  nullptr);
    ::SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return line;
}

// Windows-1251 bytes, one character each, shown as UTF-16.
void setText(HWND line, std::string_view text) {
    ::SetWindowTextW(line, widenCp1251(text.substr(0, LINE_TEXT_MAX - 1)).c_str());
}

}  // namespace

void StatusLines::create(HWND parent, HINSTANCE instance, HFONT logFont, HFONT statusFont) {
    for (int i = 0; i < PANE_LOG_LINES; ++i) {
        logLines_[static_cast<std::size_t>(i)] = makeLine(parent, instance, i * LINE_HEIGHT, logFont);
    }
    sourceStatus_ = makeLine(parent, instance, SOURCE_STATUS_Y, statusFont);
    consumerStatus_ = makeLine(parent, instance, CONSUMER_STATUS_Y, statusFont);
}

void StatusLines::logLineShown(std::string_view text) {
    wchar_t moved[LINE_TEXT_MAX];
    for (std::size_t i = 1; i < logLines_.size(); ++i) {
        moved[0] = L'\0';
        ::GetWindowTextW(logLines_[i], moved, LINE_TEXT_MAX);
        ::SetWindowTextW(logLines_[i - 1], moved);
    }
    setText(logLines_.back(), text);
}

void StatusLines::statusLinesChanged() {
    setText(sourceStatus_, log_.sourceStatusLine());
    setText(consumerStatus_, log_.consumerStatusLine());
}

}  // namespace velgor
