#pragma once

#include <cstdio>
#include <string>

namespace velgor {

// The file calls of the settings files that differ between platforms.

// Makes a new empty file at `path`; false, touching nothing, when anything
// already has that name (or the file cannot be made).
[[nodiscard]] bool createNewFile(const std::string& path);

// What stands at a path whose file is about to be replaced whole.
struct ReplaceTarget {
    bool exists = false;
    // A plain file this user may write: a new file can take its place. Anything
    // else that exists (a link, a device, a file the user may not write) is to
    // be written in place.
    bool replaceable = false;
    unsigned permissions = 0;  // POSIX mode bits the new file takes over
};

[[nodiscard]] ReplaceTarget examineReplaceTarget(const std::string& path);
// Gives a new file the permissions of the one it replaces (POSIX only; on
// Windows a replacing file keeps its own).
void takeOverPermissions(std::FILE* file, const ReplaceTarget& target);
// Pushes a file's written bytes to the disk; false on failure.
[[nodiscard]] bool syncToDisk(std::FILE* file);
// Puts the file `from` in place of `to` in one step, replacing it when it
// exists. Returns 0, or an errno value: EACCES / EPERM when refused, EBUSY when
// the file is in use, others for other failures.
[[nodiscard]] int replaceFile(const std::string& from, const std::string& to);

}  // namespace velgor
