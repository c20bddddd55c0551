#include "sys/unique_fd.h"

#include "sys/win/winsock_fd.h"

namespace velgor {

void UniqueFd::reset(int fd) {
    if (fd_ != INVALID_FD) ::closesocket(toSocket(fd_));
    fd_ = fd;
}

}  // namespace velgor
