#pragma once

#include <windows.h>

namespace velgor {

class RelayControls;
class WinRelayHost;
class TrayIcon;

// The main window: class "tarnwick" (icon ICON_1, the arrow cursor, a white
// background, the menu bar MENU_1), a fixed 585 x 372 window that can be
// minimized and closed, titled "Связывающая программа (Velgor)". Its procedure
// routes every message of the relay: the tick and the socket notifications to
// the host, menu commands and characters to the controls, the taskbar's new start
// and the tray retry timer to the tray icon, the tray icon's right
// button to the tray menu, whose choice is a command; its destruction ends the
// message loop with 0.
class MainWindow {
  public:
    // What the procedure hands messages to; set once everything exists (messages
    // before that get the default handling).
    struct Routes {
        WinRelayHost* host = nullptr;
        RelayControls* controls = nullptr;
        TrayIcon* tray = nullptr;
    };

    static constexpr wchar_t CLASS_NAME[] = L"tarnwick";
    static constexpr DWORD STYLE = 0x10CA0080;  // visible, caption, system menu, minimize box
    static constexpr int WIDTH = 585;
    static constexpr int HEIGHT = 372;

    explicit MainWindow(HINSTANCE instance) : instance_(instance) {}

    // Registers the window class; false when that fails.
    bool registerClass();
    // Creates the window at the system's default position (not shown yet).
    HWND create();
    void setRoutes(const Routes& routes) { routes_ = routes; }

    HWND handle() const { return window_; }

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    HWND window_ = nullptr;
    Routes routes_;
};

}  // namespace velgor
