#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <string_view>

namespace velgor {

// The icon in the notification area, from start-up until the main window goes:
// the program's icon with the window title as its tip; mouse messages over it
// come to the main window as WM_TRAY_NOTIFY. The record is the first form (a tip
// of 63 characters), which every version of the shell accepts, in UTF-16.
// The icon outlives the taskbar: when Explorer starts again (the broadcast
// "TaskbarCreated"), the icon is added anew; when the shell does not take it at
// start-up (a program started at log-on can come before the taskbar), it is
// tried again every RETRY_PERIOD_MS, RETRY_TRIES times.
class TrayIcon {
  public:
    static constexpr UINT TRAY_ICON_ID = 1006;
    // The main window's timer for adding the icon again (beside the tick's).
    static constexpr UINT_PTR RETRY_TIMER_ID = 2;
    static constexpr UINT RETRY_PERIOD_MS = 1000;
    static constexpr int RETRY_TRIES = 120;

    TrayIcon() = default;
    ~TrayIcon() { remove(); }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon; whether the shell took it (if not, it is tried again).
    bool add(HWND window, HICON icon, std::string_view tip);
    // A message of the window: true when it was the taskbar's new start or the
    // retry timer, and was handled.
    bool handleMessage(UINT message, WPARAM wParam);
    // Removes it, if it is there (again at shutdown: nothing is left behind), and
    // tries no more.
    void remove();

    bool shown() const { return added_; }

  private:
    // One try; starts the timer for the next when it fails and tries are left.
    void tryAdd();

    NOTIFYICONDATAW record_{};
    UINT taskbarCreated_ = 0;
    bool wanted_ = false;  // from add to remove
    bool added_ = false;
    int triesLeft_ = 0;
};

}  // namespace velgor
