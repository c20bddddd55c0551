#include "shell/win/win_resources.h"

namespace velgor {

int showTrayMenu(HWND mainWindow, HINSTANCE instance, POINT at) {
    HMENU menu = ::LoadMenuW(instance, TRAY_MENU_WNAME);
    if (menu == nullptr) return 0;
    int chosen = 0;
    if (HMENU popup = ::GetSubMenu(menu, 0); popup != nullptr) {
        ::SetForegroundWindow(mainWindow);
        chosen = ::TrackPopupMenu(popup, TPM_RETURNCMD, at.x, at.y, 0, mainWindow, nullptr);
        // Without a message after the menu, the next one from a notification
        // icon may not close when the operator clicks elsewhere.
        ::PostMessageW(mainWindow, WM_NULL, 0, 0);
    }
    ::DestroyMenu(menu);
    return chosen;
}

}  // namespace velgor
