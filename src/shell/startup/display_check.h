#pragma once

#include <string>
#include <string_view>

namespace velgor {

// Where a local X server keeps its socket, "X<number>", both as a file and in the
// abstract namespace.
inline constexpr char X_SOCKET_DIR[] = "/tmp/.X11-unix";

// Whether the X display that DISPLAY names takes a connection. A local display
// (":N", "unix:N") is tried on its socket in socketDir, the abstract one first,
// then on 127.0.0.1 port 6000 + N, as the X library itself does; "localhost:N"
// and "127.0.0.1:N" on that port only. A display on another host cannot be
// checked cheaply and counts as answering; a text that names no display does not.
[[nodiscard]] bool xDisplayAnswers(std::string_view display,
                                   const std::string& socketDir = X_SOCKET_DIR);

// Whether the Wayland compositor that WAYLAND_DISPLAY names takes a connection:
// its socket is that path when absolute, else the name inside runtimeDir
// (XDG_RUNTIME_DIR; none when that is unset).
[[nodiscard]] bool waylandDisplayAnswers(std::string_view display, const char* runtimeDir);

}  // namespace velgor
