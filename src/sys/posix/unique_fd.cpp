#include "sys/unique_fd.h"

#include <unistd.h>

namespace velgor {

void UniqueFd::reset(int fd) {
    // Even a close that reports EINTR has let the descriptor go on Linux: it is
    // never closed twice.
    if (fd_ != INVALID_FD) ::close(fd_);
    fd_ = fd;
}

}  // namespace velgor
