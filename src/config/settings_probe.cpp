#include "config/settings_probe.h"

#include <cstdio>

#include "config/settings_file_names.h"
#include "config/settings_path.h"

namespace velgor {

void probeSettingsDir(const std::string& dir) {
    const std::string path = settingsPath(dir, SETTINGS_PROBE_FILE);
    // "x": fails when the name exists, so only a file made here is deleted.
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) return;
    std::fclose(file);
    std::remove(path.c_str());
}

}  // namespace velgor
