#include "config/settings_probe.h"

#include <cstdio>

#include "config/settings_file_names.h"
#include "config/settings_path.h"
#include "sys/file_ops.h"

namespace velgor {

void probeSettingsDir(const std::string& dir) {
    const std::string path = settingsPath(dir, SETTINGS_PROBE_FILE);
    // Only a file made here is deleted.
    if (createNewFile(path)) std::remove(path.c_str());
}

}  // namespace velgor
