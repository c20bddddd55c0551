#include "shell/win/tray_icon.h"

#include <algorithm>

#include "shell/win/win_text.h"
#include "shell/win/window_messages.h"

namespace velgor {

bool TrayIcon::add(HWND window, HICON icon, std::string_view tip) {
    record_ = NOTIFYICONDATAW{};
    record_.cbSize = NOTIFYICONDATAW_V1_SIZE;
    record_.hWnd = window;
    record_.uID = TRAY_ICON_ID;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = WM_TRAY_NOTIFY;
    record_.hIcon = icon;
    // The first form's tip holds 63 characters and the terminating zero.
    const std::wstring text = widenCp1251(tip);
    const std::size_t length = std::min<std::size_t>(text.size(), 63);
    std::copy_n(text.data(), length, record_.szTip);
    record_.szTip[length] = L'\0';
    added_ = ::Shell_NotifyIconW(NIM_ADD, &record_) != FALSE;
    return added_;
}

void TrayIcon::remove() {
    if (!added_) return;
    ::Shell_NotifyIconW(NIM_DELETE, &record_);
    added_ = false;
}

}  // namespace velgor
