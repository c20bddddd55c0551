#include "shell/win/tray_icon.h"

#include <algorithm>

#include "shell/win/win_text.h"
#include "shell/win/window_messages.h"

namespace velgor {

bool TrayIcon::add(HWND window, HICON icon, std::string_view tip) {
    remove();
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
    // Sent to every top-level window when the taskbar is made anew; let through
    // to a program run with higher rights than Explorer's.
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    if (taskbarCreated_ != 0) {
        (void)::ChangeWindowMessageFilterEx(window, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    }
    wanted_ = true;
    triesLeft_ = RETRY_TRIES;
    tryAdd();
    return added_;
}

void TrayIcon::tryAdd() {
    // An icon the shell still shows (a broadcast with no restart behind it)
    // refuses the add and takes a change.
    added_ = ::Shell_NotifyIconW(NIM_ADD, &record_) != FALSE ||
             ::Shell_NotifyIconW(NIM_MODIFY, &record_) != FALSE;
    if (added_ || triesLeft_ <= 0) {
        ::KillTimer(record_.hWnd, RETRY_TIMER_ID);
    } else {
        ::SetTimer(record_.hWnd, RETRY_TIMER_ID, RETRY_PERIOD_MS, nullptr);
    }
}

bool TrayIcon::handleMessage(UINT message, WPARAM wParam) {
    if (message == WM_TIMER && wParam == RETRY_TIMER_ID) {
        if (wanted_ && !added_) {
            --triesLeft_;
            tryAdd();
        } else {
            ::KillTimer(record_.hWnd, RETRY_TIMER_ID);
        }
        return true;
    }
    if (taskbarCreated_ == 0 || message != taskbarCreated_) return false;
    // The new taskbar knows no icon of ours.
    if (wanted_) {
        triesLeft_ = RETRY_TRIES;
        tryAdd();
    }
    return true;
}

void TrayIcon::remove() {
    if (wanted_) ::KillTimer(record_.hWnd, RETRY_TIMER_ID);
    wanted_ = false;
    if (!added_) return;
    ::Shell_NotifyIconW(NIM_DELETE, &record_);
    added_ = false;
}

}  // namespace velgor
