#pragma once

#include <string>
#include <vector>

namespace velgor {

enum class FrontEndKind { Console, Desktop };

inline constexpr char CONSOLE_MODULE[] = "libvelgor-console.so";
inline constexpr char DESKTOP_MODULE[] = "libvelgor-desktop.so";

// Desktop when a graphical display is there: DISPLAY or WAYLAND_DISPLAY set, or a
// Qt platform named in QT_QPA_PLATFORM. Console otherwise.
FrontEndKind chooseFrontEnd(const char* display, const char* waylandDisplay,
                            const char* qtPlatform);
FrontEndKind chooseFrontEndFromEnvironment();

// Where a front-end module is looked for: beside the program (a build tree), then
// in ../lib/velgor relative to it (an installed tree).
std::vector<std::string> moduleCandidates(const std::string& programDir, const char* module);
// The directory of the running program, from /proc/self/exe.
std::string programDirectory();

}  // namespace velgor
