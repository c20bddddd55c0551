#pragma once

#include <windows.h>

namespace velgor {

// Names of the program's resources (velgor.rc), for the A and W calls alike.
// The main window's class names MAIN_MENU as its menu, so every main window
// gets its own copy of MENU_1 with it.
inline constexpr char MAIN_MENU_NAME[] = "MENU_1";
inline constexpr wchar_t MAIN_MENU_WNAME[] = L"MENU_1";
inline constexpr char TRAY_MENU_NAME[] = "MENU_TRAY";
inline constexpr wchar_t TRAY_MENU_WNAME[] = L"MENU_TRAY";
inline constexpr char ICON_NAME[] = "ICON_1";
inline constexpr wchar_t ICON_WNAME[] = L"ICON_1";

// The tray icon's pop-up: the first pop-up of MENU_TRAY (whose title is never
// shown), at `at` in screen coordinates, with the main window brought to the
// foreground first so that a click elsewhere closes the menu. Returns the
// command chosen, or 0 when the menu was dismissed or could not be loaded.
int showTrayMenu(HWND mainWindow, HINSTANCE instance, POINT at);

}  // namespace velgor
