#include "sys/file_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velgor {

bool createNewFile(const std::string& path) {
    // "x": fails when the name exists.
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

ReplaceTarget examineReplaceTarget(const std::string& path) {
    struct stat existing {};
    ReplaceTarget target;
    target.exists = ::lstat(path.c_str(), &existing) == 0;
    if (!target.exists) return target;
    target.replaceable = S_ISREG(existing.st_mode) && ::access(path.c_str(), W_OK) == 0;
    target.permissions = existing.st_mode & 07777;
    return target;
}

void takeOverPermissions(std::FILE* file, const ReplaceTarget& target) {
    if (target.exists) (void)::fchmod(::fileno(file), static_cast<mode_t>(target.permissions));
}

bool syncToDisk(std::FILE* file) {
    return ::fsync(::fileno(file)) == 0;
}

int replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace velgor
