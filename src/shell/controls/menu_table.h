#pragma once

#include <span>
#include <string_view>

namespace velgor {

// One item of a menu resource: a plain text item, enabled and unchecked as
// loaded. `checkMark` items show a check mark while their flag is on.
struct MenuItem {
    int id;
    const char* name;   // the command's constant name, e.g. "IDM_EXIT"
    const char* label;  // Windows-1251; '&' marks the mnemonic
    bool checkMark;
};

struct MenuPopup {
    const char* title;  // Windows-1251; '&' marks the mnemonic
    std::span<const MenuItem> items;
};

// MENU_1, the main window's menu bar: "&Настройки" and "&О программе", items in
// the order they are shown.
std::span<const MenuPopup> mainMenu();
// MENU_TRAY: one pop-up, whose items alone are shown as the tray menu.
std::span<const MenuPopup> trayMenu();

// The item with this identifier in a menu, or null.
const MenuItem* findMenuItem(std::span<const MenuPopup> menu, int id);

// The mnemonic of a label: the byte after the first single '&' ("&&" is a
// literal '&'); 0 when there is none.
char menuMnemonic(std::string_view label);

}  // namespace velgor
