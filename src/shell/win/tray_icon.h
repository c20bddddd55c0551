#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string_view>

namespace velgor {

// The icon in the notification area, from start-up until the main window goes:
// the program's icon with the window title as its tip; mouse messages over it
// come to the main window as WM_TRAY_NOTIFY. The record is the first form (a tip
// of 63 characters), which every version of the shell accepts, in UTF-16.
class TrayIcon {
  public:
    static constexpr UINT TRAY_ICON_ID = 1006;

    TrayIcon() = default;
    ~TrayIcon() { remove(); }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon; whether the shell took it.
    bool add(HWND window, HICON icon, std::string_view tip);
    // Removes it, if it is there (again at shutdown: nothing is left behind).
    void remove();

  private:
    NOTIFYICONDATAW record_{};
    bool added_ = false;
};

}  // namespace velgor
