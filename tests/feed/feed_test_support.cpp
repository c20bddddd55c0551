#include "feed/feed_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>

#include "support/loopback_address.h"

namespace velgor::test {

long RecordingOps::send(int socket, const void* data, std::size_t length) {
    sockets.push_back(socket);
    long take = static_cast<long>(length);
    if (!script.empty()) {
        take = std::min(script.front(), take);
        script.pop_front();
    }
    if (take < 0) {
        sends.emplace_back();
        errno = errorOfFailure;
        return -1;
    }
    const std::string taken(static_cast<const char*>(data), static_cast<std::size_t>(take));
    sends.push_back(taken);
    wire += taken;
    return take;
}

void RecordingOps::pause(std::chrono::milliseconds duration) {
    ++pauses;
    paused += duration;
}

void CountingPauseOps::pause(std::chrono::milliseconds duration) {
    ++pauses;
    if (sleepForReal_) std::this_thread::sleep_for(duration);
}

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(what);
}

}  // namespace

LoopbackPair::LoopbackPair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) fail("socket");
    sockaddr_in address = loopbackAddress(0);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(listener);
        fail("listen on 127.0.0.1");
    }
    sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sender < 0 || ::connect(sender, reinterpret_cast<sockaddr*>(&address), size) != 0) {
        ::close(listener);
        fail("connect to 127.0.0.1");
    }
    peer = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    if (peer < 0) fail("accept");
}

LoopbackPair::~LoopbackPair() {
    if (sender >= 0) ::close(sender);
    if (peer >= 0) ::close(peer);
}

void LoopbackPair::makeSenderNonBlocking() const {
    ::fcntl(sender, F_SETFL, ::fcntl(sender, F_GETFL) | O_NONBLOCK);
}

std::size_t LoopbackPair::stuffSender() const {
    makeSenderNonBlocking();
    const std::string chunk(65536, 'x');
    std::size_t total = 0;
    for (;;) {
        const long n = ::send(sender, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return total;
        fail("send while filling the socket");
    }
}

std::string LoopbackPair::readPeer(std::size_t count, std::chrono::milliseconds timeout) const {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd watch{peer, POLLIN, 0};
        if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) break;
        const long n = ::recv(peer, buffer, std::min(sizeof buffer, count - received.size()), 0);
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

}  // namespace velgor::test
