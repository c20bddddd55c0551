#include "shell/startup/front_end_choice.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace velgor {
namespace {

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

FrontEndKind chooseFrontEnd(const char* display, const char* waylandDisplay,
                            const char* qtPlatform) {
    if (isSet(display) || isSet(waylandDisplay) || isSet(qtPlatform)) return FrontEndKind::Desktop;
    return FrontEndKind::Console;
}

FrontEndKind chooseFrontEndFromEnvironment() {
    return chooseFrontEnd(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                          std::getenv("QT_QPA_PLATFORM"));
}

std::vector<std::string> moduleCandidates(const std::string& programDir, const char* module) {
    return {programDir + "/" + module, programDir + "/../lib/velgor/" + module};
}

std::string programDirectory() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return ".";
    return self.parent_path().string();
}

}  // namespace velgor
