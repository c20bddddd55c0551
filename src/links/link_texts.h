#pragma once

// Status texts of the link slots, as Windows-1251 bytes.
namespace velgor::link_texts {

// "Идет установление связи"
inline constexpr char CONNECTING[] =
    "\xC8\xE4\xE5\xF2 \xF3\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5 \xF1\xE2\xFF\xE7\xE8";
// "Ошибка сокета"
inline constexpr char SOCKET_FAILED[] = "\xCE\xF8\xE8\xE1\xEA\xE0 \xF1\xEE\xEA\xE5\xF2\xE0";
// "Ошибка " followed by the host text
inline constexpr char ERROR_PREFIX[] = "\xCE\xF8\xE8\xE1\xEA\xE0 ";
// "Ошибка connect"
inline constexpr char CONNECT_ERROR[] = "\xCE\xF8\xE8\xE1\xEA\xE0 connect";
// "Ошибка WSAAsyncSelect(NETEVENT)"
inline constexpr char WATCH_ERROR[] = "\xCE\xF8\xE8\xE1\xEA\xE0 WSAAsyncSelect(NETEVENT)";
// "Соединение " followed by the dotted address
inline constexpr char CONNECTED_PREFIX[] = "\xD1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xE5 ";
// "Связь разорвана"
inline constexpr char DROPPED[] = "\xD1\xE2\xFF\xE7\xFC \xF0\xE0\xE7\xEE\xF0\xE2\xE0\xED\xE0";

}  // namespace velgor::link_texts
