#pragma once

namespace velgor {

// Menu command identifiers of the main window's menu bar and the tray menu.
enum MenuCommand : int {
    IDM_EXIT = 101,
    IDM_SOURCE_SETTINGS = 108,
    IDM_CONSUMER_SETTINGS = 109,
    IDM_COORDINATES = 110,
    IDM_STATION_NAME = 111,
    IDM_BINARY_MODE = 113,
    IDM_COMPRESS = 114,
    IDM_COMPRESS_TICKS = 115,
    IDM_THRESHOLD = 116,
    IDM_TIMER_FREQUENCY = 117,
    IDM_RELATIVE_TIME = 118,
    IDM_NO_DATA_WATCHDOG = 119,
    IDM_HELP = 301,
    IDM_AUTHOR = 302,
};

// Control identifiers inside a settings dialog.
enum DialogControlId : int {
    DIALOG_OK = 1,
    DIALOG_CANCEL = 2,
    DIALOG_FIELD_1 = 1000,
    DIALOG_FIELD_2 = 1001,
};

}  // namespace velgor
