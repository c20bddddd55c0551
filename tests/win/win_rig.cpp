#include "win/win_rig.h"

#include <gtest/gtest.h>

#include "shell/win/win_resources.h"
#include "shell/win/win_text.h"

namespace velgor::test {
namespace {

constexpr wchar_t TEST_WINDOW_CLASS[] = L"velgor-test-main";

// Registered once for the test program.
void registerMainWindowClass() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = WinRig::module();
        windowClass.lpszMenuName = MAIN_MENU_WNAME;
        windowClass.lpszClassName = TEST_WINDOW_CLASS;
        return ::RegisterClassW(&windowClass) != 0;
    }();
    (void)registered;
}

HWND createMainWindow() {
    registerMainWindowClass();
    return ::CreateWindowExW(0, TEST_WINDOW_CLASS, L"velgor test", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                             300, nullptr, nullptr, WinRig::module(), nullptr);
}

}  // namespace

WinRig::WinRig() : mainWindow(createMainWindow()), view(mainWindow, module()) {
    if (mainWindow == nullptr) {
        ADD_FAILURE() << "no main window: under wine a graphics driver is needed "
                         "(scripts/test-windows sets the null one)";
    }
    rig.showThrough(view);
}

WinRig::~WinRig() {
    // Its dialogs go with it.
    if (::IsWindow(mainWindow)) ::DestroyWindow(mainWindow);
}

RelayControls& WinRig::controls() {
    RelayControls& controls = rig.controls();
    view.setControls(&controls);
    return controls;
}

std::string windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    const int length = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length));
    return narrowToCp1251(text);
}

void typeInto(HWND dialog, int controlId, std::string_view text) {
    ::SetDlgItemTextW(dialog, controlId, widenCp1251(text).c_str());
}

void click(HWND dialog, int buttonId) {
    ::SendMessageW(::GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0);
}

}  // namespace velgor::test
