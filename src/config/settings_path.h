#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace velgor {

struct StdioCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// An open C stdio file, closed when the owner goes.
using StdioFile = std::unique_ptr<std::FILE, StdioCloser>;

// The path of a settings file: the bare name when dir is empty (the process's
// working directory), else the name inside dir.
std::string settingsPath(const std::string& dir, std::string_view fileName);

// Opens a settings file for reading as bytes; empty when it is absent or cannot
// be read. A directory that happens to carry the file's name counts as absent.
[[nodiscard]] StdioFile openSettingsFileForReading(const std::string& dir,
                                                   std::string_view fileName);

}  // namespace velgor
