#pragma once

#include <string_view>

#include "config/cp1251_literal.h"

// Status texts of the link slots, as Windows-1251 bytes.
namespace velgor::link_texts {

constexpr std::string_view CONNECTING = cp1251<u8"Идет установление связи">;
constexpr std::string_view SOCKET_FAILED = cp1251<u8"Ошибка сокета">;
// followed by the host text
constexpr std::string_view ERROR_PREFIX = cp1251<u8"Ошибка ">;
constexpr std::string_view CONNECT_ERROR = cp1251<u8"Ошибка connect">;
constexpr std::string_view WATCH_ERROR = cp1251<u8"Ошибка WSAAsyncSelect(NETEVENT)">;
// followed by the address in use ("127.0.0.1", "::1")
constexpr std::string_view CONNECTED_PREFIX = cp1251<u8"Соединение ">;
constexpr std::string_view DROPPED = cp1251<u8"Связь разорвана">;

}  // namespace velgor::link_texts
