#pragma once

#include <windows.h>

#include <string>

#include "controls/controls_rig.h"
#include "shell/win/win_controls_view.h"

namespace velgor::test {

// A hidden main window with the program's menu (MENU_1 through its window
// class), the Win32 view on it, and the real controls of a relay over a fresh
// settings directory (rig.files). Settings files are written before the first
// controls().
class WinRig {
  public:
    WinRig();
    ~WinRig();
    WinRig(const WinRig&) = delete;
    WinRig& operator=(const WinRig&) = delete;

    RelayControls& controls();
    // This program's module, which carries the resources.
    static HINSTANCE module() { return ::GetModuleHandleW(nullptr); }

    ControlsRig rig;
    HWND mainWindow;
    WinControlsView view;
};

// A window's text in Windows-1251, as the relay keeps its texts.
std::string windowText(HWND window);
// Types `text` (Windows-1251) into a control of a dialog.
void typeInto(HWND dialog, int controlId, std::string_view text);
// Clicks a button as the mouse does: down and up inside it.
void click(HWND dialog, int buttonId);

}  // namespace velgor::test
