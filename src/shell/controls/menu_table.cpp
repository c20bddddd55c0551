#include "shell/controls/menu_table.h"

#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

constexpr MenuItem SETTINGS_ITEMS[] = {
    // "&Настройки TCP источника  "
    {IDM_SOURCE_SETTINGS, "IDM_SOURCE_SETTINGS",
     "&\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 TCP \xE8\xF1\xF2\xEE\xF7\xED\xE8\xEA\xE0  ", false},
    // "&Бинарный режим источника"
    {IDM_BINARY_MODE, "IDM_BINARY_MODE",
     "&\xC1\xE8\xED\xE0\xF0\xED\xFB\xE9 \xF0\xE5\xE6\xE8\xEC \xE8\xF1\xF2\xEE\xF7\xED\xE8"
     "\xEA\xE0",
     true},
    // "&Сжимать информацию"
    {IDM_COMPRESS, "IDM_COMPRESS",
     "&\xD1\xE6\xE8\xEC\xE0\xF2\xFC \xE8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xFE", true},
    // "&Дискретность сжатия"
    {IDM_COMPRESS_TICKS, "IDM_COMPRESS_TICKS",
     "&\xC4\xE8\xF1\xEA\xF0\xE5\xF2\xED\xEE\xF1\xF2\xFC \xF1\xE6\xE0\xF2\xE8\xFF", false},
    // "&Нижний порог уровня приема"
    {IDM_THRESHOLD, "IDM_THRESHOLD",
     "&\xCD\xE8\xE6\xED\xE8\xE9 \xEF\xEE\xF0\xEE\xE3 \xF3\xF0\xEE\xE2\xED\xFF \xEF\xF0\xE8"
     "\xE5\xEC\xE0",
     false},
    // "&Частота таймера"
    {IDM_TIMER_FREQUENCY, "IDM_TIMER_FREQUENCY",
     "&\xD7\xE0\xF1\xF2\xEE\xF2\xE0 \xF2\xE0\xE9\xEC\xE5\xF0\xE0", false},
    // "&Показывать относительное время"
    {IDM_RELATIVE_TIME, "IDM_RELATIVE_TIME",
     "&\xCF\xEE\xEA\xE0\xE7\xFB\xE2\xE0\xF2\xFC \xEE\xF2\xED\xEE\xF1\xE8\xF2\xE5\xEB\xFC"
     "\xED\xEE\xE5 \xE2\xF0\xE5\xEC\xFF",
     true},
    // "&Если данные не поступают"
    {IDM_NO_DATA_WATCHDOG, "IDM_NO_DATA_WATCHDOG",
     "&\xC5\xF1\xEB\xE8 \xE4\xE0\xED\xED\xFB\xE5 \xED\xE5 \xEF\xEE\xF1\xF2\xF3\xEF\xE0\xFE"
     "\xF2",
     true},
    // "&Настройки TCP потребителя"
    {IDM_CONSUMER_SETTINGS, "IDM_CONSUMER_SETTINGS",
     "&\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 TCP \xEF\xEE\xF2\xF0\xE5\xE1\xE8\xF2\xE5\xEB"
     "\xFF",
     false},
    // "&Координаты приемника"
    {IDM_COORDINATES, "IDM_COORDINATES",
     "&\xCA\xEE\xEE\xF0\xE4\xE8\xED\xE0\xF2\xFB \xEF\xF0\xE8\xE5\xEC\xED\xE8\xEA\xE0", false},
    // "&Имя приемника"
    {IDM_STATION_NAME, "IDM_STATION_NAME", "&\xC8\xEC\xFF \xEF\xF0\xE8\xE5\xEC\xED\xE8\xEA\xE0",
     false},
};

constexpr MenuItem ABOUT_ITEMS[] = {
    // "&Меню"
    {IDM_HELP, "IDM_HELP", "&\xCC\xE5\xED\xFE", false},
    // "&Автор"
    {IDM_AUTHOR, "IDM_AUTHOR", "&\xC0\xE2\xF2\xEE\xF0", false},
};

constexpr MenuItem TRAY_ITEMS[] = {
    {IDM_EXIT, "IDM_EXIT", "&Exit", false},
};

// "&Настройки", "&О программе"
constexpr MenuPopup MAIN_MENU[] = {
    {"&\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8", SETTINGS_ITEMS},
    {"&\xCE \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE5", ABOUT_ITEMS},
};

// "&Режимы": its title is never shown.
constexpr MenuPopup TRAY_MENU[] = {
    {"&\xD0\xE5\xE6\xE8\xEC\xFB", TRAY_ITEMS},
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
