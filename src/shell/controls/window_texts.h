#pragma once

#include <string_view>

namespace velgor {

// The main window's class name (X11 WM_CLASS on Linux).
inline constexpr char MAIN_WINDOW_CLASS[] = "tarnwick";

// Texts of the main window, the tray entry and the two information boxes, all
// Windows-1251 bytes.
std::string_view mainWindowTitle();  // also the tray icon's tip
std::string_view helpBoxCaption();
// Ten sections: a title line in quotation marks, then body lines; one empty
// line between two sections; every line ends with LF (no CR).
std::string_view helpBoxText();
std::string_view authorBoxCaption();
std::string_view authorBoxText();

}  // namespace velgor
