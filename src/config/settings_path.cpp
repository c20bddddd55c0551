#include "config/settings_path.h"

#include <filesystem>
#include <system_error>

namespace velgor {

std::string settingsPath(const std::string& dir, std::string_view fileName) {
    std::string path;
    path.reserve(dir.size() + 1 + fileName.size());
    path = dir;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
    path.append(fileName);
    return path;
}

StdioFile openSettingsFileForReading(const std::string& dir, std::string_view fileName) {
    const std::string path = settingsPath(dir, fileName);
    // Some platforms open a directory for reading and then fail every read; a
    // directory is not a settings file, so it is skipped like a missing one.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return nullptr;
    return StdioFile(std::fopen(path.c_str(), "rb"));
}

}  // namespace velgor
