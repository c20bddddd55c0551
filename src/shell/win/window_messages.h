#pragma once

#include <windows.h>

namespace velgor {

// The relay's own messages to its main window (beside WM_TIMER, WM_COMMAND and
// WM_CHAR): socket notifications of the two links, carrying the socket and the
// event word, the reconnect thread's requests (status refreshes), and the tray
// icon's mouse callback.
inline constexpr UINT WM_SOURCE_EVENT = 1032;
inline constexpr UINT WM_CONSUMER_EVENT = 1033;
inline constexpr UINT WM_STATUS_REFRESH = 1034;
inline constexpr UINT WM_TRAY_NOTIFY = 1055;

// The 100 ms tick's timer.
inline constexpr UINT_PTR TICK_TIMER_ID = 1;
inline constexpr UINT TICK_PERIOD_MS = 100;

}  // namespace velgor
