#pragma once

#include <functional>
#include <string>

namespace velgor::test {

// What a child process run on a small file system came back with.
struct SmallTmpfsRun {
    // Why the file system could not be made (the test is skipped, and says so);
    // empty when the child ran.
    std::string skipped;
    // The child's exit code, or 128 + the signal that ended it.
    int status = -1;
};

// Runs `body` in a child process in which a small tmpfs is mounted on `dir` (in
// a mount namespace of the child's own, so no one else sees it; as root, or in a
// user namespace where the system allows them). `body` returns the child's exit
// code; fillUp() fills the file system where it wants a full disk.
[[nodiscard]] SmallTmpfsRun runOnSmallTmpfs(const std::string& dir,
                                            const std::function<int()>& body);

// Fills the file system that holds `dir` with a file "filler" in it, until no byte
// fits any more; with `files`, until no new file fits either.
void fillUp(const std::string& dir, bool files);

}  // namespace velgor::test
