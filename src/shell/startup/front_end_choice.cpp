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

FrontEndChoice chooseFrontEnd(const DisplayEnvironment& environment,
                              const std::string& xSocketDir) {
    if (isSet(environment.qtPlatform)) return {FrontEndKind::Desktop, {}};
    std::vector<std::string> silent;
    if (isSet(environment.display)) {
        if (xDisplayAnswers(environment.display, xSocketDir)) return {FrontEndKind::Desktop, {}};
        silent.push_back(std::string("display ") + environment.display);
    }
    if (isSet(environment.waylandDisplay)) {
        if (waylandDisplayAnswers(environment.waylandDisplay, environment.runtimeDir)) {
            return {FrontEndKind::Desktop, {}};
        }
        silent.push_back(std::string("Wayland display ") + environment.waylandDisplay);
    }
    if (silent.empty()) return {FrontEndKind::Console, {}};
    if (silent.size() == 1) return {FrontEndKind::Console, silent[0] + " does not answer"};
    return {FrontEndKind::Console, silent[0] + " and " + silent[1] + " do not answer"};
}

FrontEndChoice chooseFrontEndFromEnvironment() {
    return chooseFrontEnd({std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                           std::getenv("QT_QPA_PLATFORM"), std::getenv("XDG_RUNTIME_DIR")});
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
