#include "shell/win/main_window.h"

#include <string>

#include "shell/controls/relay_controls.h"
#include "shell/controls/window_texts.h"
#include "shell/win/tray_icon.h"
#include "shell/win/win_relay_host.h"
#include "shell/win/window_messages.h"

namespace velgor {

bool MainWindow::registerClass() {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &MainWindow::procedure;
    windowClass.hInstance = instance_;
    windowClass.hIcon = ::LoadIconA(instance_, "ICON_1");
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = "MENU_1";
    windowClass.lpszClassName = CLASS_NAME;
    return ::RegisterClassA(&windowClass) != 0;
}

HWND MainWindow::create() {
    const std::string title(mainWindowTitle());
    // The procedure finds this object through the window's user data, which it
    // sets from the creation parameter on the window's first message.
    window_ = ::CreateWindowExA(0, CLASS_NAME, title.c_str(), STYLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                WIDTH, HEIGHT, nullptr, nullptr, instance_, this);
    return window_;
}

void MainWindow::showTrayMenu(HWND window, HINSTANCE instance) {
    HMENU menu = ::LoadMenuA(instance, "MENU_TRAY");
    if (menu == nullptr) return;
    if (HMENU popup = ::GetSubMenu(menu, 0)) {
        ::SetForegroundWindow(window);
        POINT cursor{};
        ::GetCursorPos(&cursor);
        ::TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, window, nullptr);
    }
    ::DestroyMenu(menu);
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
    self->window_ = window;
    return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (routes_.host != nullptr && routes_.host->handleMessage(message, wParam, lParam)) return 0;
    switch (message) {
        case WM_DESTROY:
            // The icon goes with the window, so the shell never shows one whose
            // window is gone.
            if (routes_.tray != nullptr) routes_.tray->remove();
            ::PostQuitMessage(0);
            return 0;
        case WM_KEYDOWN:
            return 0;
        case WM_CHAR:
            if (routes_.controls != nullptr) routes_.controls->character(static_cast<int>(wParam));
            return 0;
        case WM_COMMAND:
            if (routes_.controls != nullptr) routes_.controls->command(LOWORD(wParam));
            return 0;
        case WM_TIMER:
            return 0;
        case WM_TRAY_NOTIFY:
            if (static_cast<UINT>(lParam) == WM_RBUTTONDOWN) showTrayMenu(window_, instance_);
            return 0;
        default:
            return ::DefWindowProcA(window_, message, wParam, lParam);
    }
}

}  // namespace velgor
