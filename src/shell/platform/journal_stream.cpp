#include "shell/platform/journal_stream.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace velgor {
namespace {

// A decimal number up to `stop`; the text after it in `rest`.
bool readNumber(const char* text, char stop, unsigned long long& value, const char*& rest) {
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != stop) return false;
    rest = end;
    return true;
}

}  // namespace

bool isJournalStream(int fd, const char* journalStream) {
    if (journalStream == nullptr) return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    const char* rest = journalStream;
    if (!readNumber(rest, ':', device, rest) || !readNumber(rest + 1, '\0', inode, rest)) {
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) return false;
    return static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

}  // namespace velgor
