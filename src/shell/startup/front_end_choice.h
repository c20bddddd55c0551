#pragma once

#include <string>
#include <vector>

#include "shell/startup/display_check.h"

namespace velgor {

enum class FrontEndKind { Console, Desktop };

inline constexpr char DESKTOP_MODULE[] = "libvelgor-desktop.so";

// The variables that decide the front end (each null when unset).
struct DisplayEnvironment {
    const char* display = nullptr;         // DISPLAY
    const char* waylandDisplay = nullptr;  // WAYLAND_DISPLAY
    const char* qtPlatform = nullptr;      // QT_QPA_PLATFORM
    const char* runtimeDir = nullptr;      // XDG_RUNTIME_DIR, where Wayland sockets are
};

struct FrontEndChoice {
    FrontEndKind kind = FrontEndKind::Console;
    // Why the console was chosen although a display is named ("display :9 does
    // not answer"); empty otherwise.
    std::string reason;
};

// Desktop when a Qt platform is named in QT_QPA_PLATFORM (taken as it is), or
// when the display named by DISPLAY or WAYLAND_DISPLAY answers: Qt ends the
// process when it cannot reach its display, so a stale DISPLAY (a closed SSH
// session, sudo) gets the console. Console when no display is named.
FrontEndChoice chooseFrontEnd(const DisplayEnvironment& environment,
                              const std::string& xSocketDir = X_SOCKET_DIR);
FrontEndChoice chooseFrontEndFromEnvironment();

// Where the desktop module is looked for: beside the program (a build tree), then
// in ../lib/velgor relative to it (an installed tree).
std::vector<std::string> moduleCandidates(const std::string& programDir, const char* module);
// The directory of the running program, from /proc/self/exe.
std::string programDirectory();

}  // namespace velgor
