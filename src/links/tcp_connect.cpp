#include "links/tcp_connect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace velgor {
namespace {

// A name look-up running on a thread of its own. The attempt that started it and
// the look-up thread share this record; whichever lets go last frees it.
struct LookUp {
    std::mutex mutex;
    std::condition_variable_any done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

void lookUpName(const std::shared_ptr<LookUp>& lookUp, const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &results);
    std::lock_guard lock(lookUp->mutex);
    if (rc == 0 && results != nullptr && results->ai_addr != nullptr) {
        sockaddr_in first{};
        std::memcpy(&first, results->ai_addr, sizeof first);
        lookUp->address = first.sin_addr;
        lookUp->found = true;
    }
    if (results != nullptr) freeaddrinfo(results);
    lookUp->finished = true;
    lookUp->done.notify_all();
}

}  // namespace

AttemptStep resolveIPv4(const char* host, std::stop_token stop, in_addr& address) {
    // A dotted address needs no resolver (and the resolver would give it back as is).
    if (inet_aton(host, &address) != 0) return AttemptStep::Done;

    auto lookUp = std::make_shared<LookUp>();
    std::thread(lookUpName, lookUp, std::string(host)).detach();
    std::unique_lock lock(lookUp->mutex);
    lookUp->done.wait(lock, stop, [&] { return lookUp->finished; });
    if (!lookUp->finished) return AttemptStep::Stopped;
    if (lookUp->found) {
        address = lookUp->address;
        return AttemptStep::Done;
    }
    const in_addr_t dotted = inet_addr(host);
    if (dotted == INADDR_NONE) return AttemptStep::Failed;
    address.s_addr = dotted;
    return AttemptStep::Done;
}

UniqueFd createTcpSocket() {
    return UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

void disableNagle(int socket) {
    const int on = 1;
    (void)setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // only slower without it
}

AttemptStep connectIPv4(int socket, in_addr address, std::uint16_t port, std::stop_token stop) {
    // The connect runs non-blocking so that a stop request is seen while it waits;
    // the socket is made blocking again afterwards, as a plain connect leaves it.
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) return AttemptStep::Failed;

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr = address;
    int rc = ::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (rc != 0 && errno != EINPROGRESS) return AttemptStep::Failed;
    while (rc != 0) {
        if (stop.stop_requested()) return AttemptStep::Stopped;
        pollfd watch{socket, POLLOUT, 0};
        const int ready = poll(&watch, 1, static_cast<int>(ATTEMPT_STOP_POLL.count()));
        if (ready < 0 && errno != EINTR) return AttemptStep::Failed;
        if (ready <= 0) continue;
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return AttemptStep::Failed;
        }
        rc = 0;
    }
    if (fcntl(socket, F_SETFL, flags) < 0) return AttemptStep::Failed;
    return AttemptStep::Done;
}

bool makeNonBlocking(int socket) {
    const int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace velgor
