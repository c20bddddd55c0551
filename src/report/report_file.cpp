#include "report/report_file.h"

#include <cerrno>
#include <cstdio>

#include "sys/file_ops.h"

namespace velgor {
namespace {

int lastError() {
    return errno != 0 ? errno : EIO;
}

}  // namespace

int replaceWithText(const std::string& path, std::string_view text) {
    const std::string fresh = path + ".tmp";
    // Binary: the line ends stay single line feeds on Windows too.
    std::FILE* file = std::fopen(fresh.c_str(), "wb");
    if (file == nullptr) return lastError();
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) error = lastError();
    if (std::fclose(file) != 0 && error == 0) error = lastError();
    if (error == 0) error = replaceFile(fresh, path);
    if (error != 0) std::remove(fresh.c_str());
    return error;
}

}  // namespace velgor
