#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velgor::test {

// A fresh, empty directory for settings files, removed with everything in it
// when the test ends.
class TempSettingsDir {
  public:
    TempSettingsDir();
    ~TempSettingsDir();
    TempSettingsDir(const TempSettingsDir&) = delete;
    TempSettingsDir& operator=(const TempSettingsDir&) = delete;

    std::string dir() const { return path_.string(); }
    std::filesystem::path path(std::string_view name) const { return path_ / name; }

    // Writes the bytes exactly (binary), replacing any earlier file.
    void write(std::string_view name, std::string_view bytes) const;
    // The file's exact bytes (on Windows a CR LF line end reads as LF); nothing
    // when it does not exist.
    std::optional<std::string> read(std::string_view name) const;
    // The names of the files in the directory, sorted.
    std::string listing() const;

  private:
    std::filesystem::path path_;
};

}  // namespace velgor::test
