#include "shell/win/main_window.h"

#include "shell/controls/relay_controls.h"
#include "shell/controls/window_texts.h"
#include "shell/win/tray_icon.h"
#include "shell/win/win_relay_host.h"
#include "shell/win/win_resources.h"
#include "shell/win/win_text.h"
#include "shell/win/window_messages.h"

namespace velgor {

bool MainWindow::registerClass() {
    // A Unicode window: its title and menus read right whatever the system's
    // code page for non-Unicode programs is.
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &MainWindow::procedure;
    windowClass.hInstance = instance_;
    windowClass.hIcon = ::LoadIconW(instance_, ICON_WNAME);
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAIN_MENU_WNAME;
    windowClass.lpszClassName = CLASS_NAME;
    return ::RegisterClassW(&windowClass) != 0;
}

HWND MainWindow::create() {
    // The procedure finds this object through the window's user data, which it
    // sets from the creation parameter on the window's first message.
    window_ = ::CreateWindowExW(0, CLASS_NAME, widenCp1251(mainWindowTitle()).c_str(), STYLE,
                                CW_USEDEFAULT, CW_USEDEFAULT, WIDTH, HEIGHT, nullptr, nullptr,
                                instance_, this);
    return window_;
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The messages of the creation itself come before CreateWindowExW returns.
        auto* self = static_cast<MainWindow*>(
            reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (routes_.host != nullptr && routes_.host->handleMessage(message, wParam, lParam)) return 0;
    if (routes_.tray != nullptr && routes_.tray->handleMessage(message, wParam)) return 0;
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
            // The right button pressed over the icon: its menu at the cursor; the
            // item chosen is a command like any other (Exit).
            if (static_cast<UINT>(lParam) == WM_RBUTTONDOWN) {
                POINT cursor{};
                ::GetCursorPos(&cursor);
                const int chosen = showTrayMenu(window_, instance_, cursor);
                if (chosen != 0 && routes_.controls != nullptr) routes_.controls->command(chosen);
            }
            return 0;
        default:
            return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

}  // namespace velgor
