#include "feed/feed_test_support.h"

#ifdef _WIN32
#include "sys/win/winsock_fd.h"
#else
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cerrno>
#include <span>
#include <stdexcept>
#include <thread>

#include "support/loopback_address.h"
#include "sys/socket_calls.h"

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

// The few calls that differ between POSIX sockets and Winsock.
#ifdef _WIN32
using socklen_t = int;
SOCKET native(int socket) {
    return toSocket(socket);
}
int fromNative(SOCKET socket) {
    return fromSocket(socket);
}
#else
int native(int socket) {
    return socket;
}
int fromNative(int socket) {
    return socket;
}
#endif

}  // namespace

LoopbackPair::LoopbackPair() {
    const UniqueFd listener = openTcpSocket();
    if (!listener.valid()) fail("socket");
    sockaddr_in address = loopbackAddress(0);
    socklen_t size = sizeof address;
    if (::bind(native(listener.get()), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(native(listener.get()), 1) != 0 ||
        ::getsockname(native(listener.get()), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        fail("listen on 127.0.0.1");
    }
    UniqueFd relayEnd = openTcpSocket();
    if (!relayEnd.valid() ||
        ::connect(native(relayEnd.get()), reinterpret_cast<sockaddr*>(&address), size) != 0) {
        fail("connect to 127.0.0.1");
    }
    sender = relayEnd.release();
    peer = fromNative(::accept(native(listener.get()), nullptr, nullptr));
    if (peer == INVALID_FD) fail("accept");
}

LoopbackPair::~LoopbackPair() {
    // Owners for the moment: they close the sockets.
    const UniqueFd closedSender(sender);
    const UniqueFd closedPeer(peer);
}

void LoopbackPair::makeSenderNonBlocking() const {
    if (!setNonBlocking(sender, true)) fail("non-blocking mode");
}

std::size_t LoopbackPair::stuffSender() const {
    makeSenderNonBlocking();
    const std::string chunk(65536, 'x');
    std::size_t total = 0;
    for (;;) {
        const long n = systemSocketOps().send(sender, chunk.data(), chunk.size());
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
        PolledSocket watch{peer, SOCKET_READABLE, 0};
        if (pollSockets(std::span(&watch, 1), left) <= 0) break;
        const long n =
            systemSocketOps().recv(peer, buffer, std::min(sizeof buffer, count - received.size()));
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

}  // namespace velgor::test
