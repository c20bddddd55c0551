#include "program/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/loopback_address.h"

namespace velgor::test {

LoopbackListener::LoopbackListener(int backlog) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

SilentXDisplay::SilentXDisplay(const std::string& socketDir) {
    for (unsigned number = 200; number < 1000; ++number) {
        const std::string name = socketDir + "/X" + std::to_string(number);
        std::error_code ignored;
        if (std::filesystem::exists(name, ignored)) continue;
        sockaddr_un local{};
        if (name.size() + 1 >= sizeof local.sun_path) break;
        local.sun_family = AF_UNIX;
        std::memcpy(local.sun_path + 1, name.data(), name.size());  // abstract: a NUL first
        const auto localSize =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        const sockaddr_in tcp = loopbackAddress(static_cast<std::uint16_t>(6000 + number));
        abstract_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        tcp_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(abstract_, reinterpret_cast<const sockaddr*>(&local), localSize) == 0 &&
            ::bind(tcp_, reinterpret_cast<const sockaddr*>(&tcp), sizeof tcp) == 0) {
            number_ = number;
            return;
        }
        ::close(abstract_);
        ::close(tcp_);
    }
    throw std::runtime_error("no free X display number");
}

SilentXDisplay::~SilentXDisplay() {
    ::close(abstract_);
    ::close(tcp_);
}

LoopbackListener::~LoopbackListener() {
    for (int fd : fillers_) {
        if (fd >= 0) ::close(fd);
    }
    if (fd_ >= 0) ::close(fd_);
}

int LoopbackListener::accept(std::chrono::milliseconds limit) {
    pollfd watch{fd_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(limit.count())) <= 0) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

void LoopbackListener::fillBacklog() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    for (int& fd : fillers_) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
}

DatagramListener::DatagramListener(std::string address) : address_(std::move(address)) {
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    if (address_.empty() || address_.size() >= sizeof local.sun_path) {
        throw std::runtime_error("bad datagram socket address");
    }
    std::memcpy(local.sun_path, address_.data(), address_.size());
    const bool abstract = address_[0] == '@';
    if (abstract) local.sun_path[0] = '\0';
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size() +
                                             (abstract ? 0u : 1u));
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), size) != 0) {
        throw std::runtime_error("cannot bind " + address_);
    }
}

DatagramListener::~DatagramListener() {
    if (fd_ >= 0) ::close(fd_);
    if (!address_.empty() && address_[0] == '/') ::unlink(address_.c_str());
}

std::optional<std::string> DatagramListener::next(std::chrono::milliseconds limit) {
    pollfd watch{fd_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool readUntil(int fd, const std::string& text, std::string& into,
               std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (into.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd watch{fd, POLLIN, 0};
        if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return into.find(text) != std::string::npos;
        into.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace velgor::test
