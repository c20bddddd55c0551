#include "shell/controls/menu_table.h"

#include "config/cp1251_literal.h"
#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

constexpr MenuItem SETTINGS_ITEMS[] = {
    {IDM_SOURCE_SETTINGS, "IDM_SOURCE_SETTINGS", cp1251<u8"&Настройки TCP источника  ">, false},
    {IDM_BINARY_MODE, "IDM_BINARY_MODE", cp1251<u8"&Бинарный режим источника">, true},
    {IDM_COMPRESS, "IDM_COMPRESS", cp1251<u8"&Сжимать информацию">, true},
    {IDM_COMPRESS_TICKS, "IDM_COMPRESS_TICKS", cp1251<u8"&Дискретность сжатия">, false},
    {IDM_THRESHOLD, "IDM_THRESHOLD", cp1251<u8"&Нижний порог уровня приема">, false},
    {IDM_TIMER_FREQUENCY, "IDM_TIMER_FREQUENCY", cp1251<u8"&Частота таймера">, false},
    {IDM_RELATIVE_TIME, "IDM_RELATIVE_TIME", cp1251<u8"&Показывать относительное время">, true},
    {IDM_NO_DATA_WATCHDOG, "IDM_NO_DATA_WATCHDOG", cp1251<u8"&Если данные не поступают">, true},
    {IDM_CONSUMER_SETTINGS, "IDM_CONSUMER_SETTINGS", cp1251<u8"&Настройки TCP потребителя">, false},
    {IDM_COORDINATES, "IDM_COORDINATES", cp1251<u8"&Координаты приемника">, false},
    {IDM_STATION_NAME, "IDM_STATION_NAME", cp1251<u8"&Имя приемника">, false},
};

constexpr MenuItem ABOUT_ITEMS[] = {
    {IDM_HELP, "IDM_HELP", cp1251<u8"&Меню">, false},
    {IDM_AUTHOR, "IDM_AUTHOR", cp1251<u8"&Автор">, false},
};

constexpr MenuItem TRAY_ITEMS[] = {
    {IDM_EXIT, "IDM_EXIT", "&Exit", false},
};

constexpr MenuPopup MAIN_MENU[] = {
    {cp1251<u8"&Настройки">, SETTINGS_ITEMS},
    {cp1251<u8"&О программе">, ABOUT_ITEMS},
};

// Its title is never shown.
constexpr MenuPopup TRAY_MENU[] = {
    {cp1251<u8"&Режимы">, TRAY_ITEMS},
};

}  // namespace

std::span<const MenuPopup> mainMenu() {
    return MAIN_MENU;
}

std::span<const MenuPopup> trayMenu() {
    return TRAY_MENU;
}

const MenuItem* findMenuItem(std::span<const MenuPopup> menu, int id) {
    for (const MenuPopup& popup : menu) {
        for (const MenuItem& item : popup.items) {
            if (item.id == id) return &item;
        }
    }
    return nullptr;
}

char menuMnemonic(std::string_view label) {
    for (std::size_t i = 0; i + 1 < label.size(); ++i) {
        if (label[i] != '&') continue;
        if (label[i + 1] != '&') return label[i + 1];
        ++i;  // "&&" stands for one '&'
    }
    return 0;
}

}  // namespace velgor
