#include "links/tcp_connect.h"

#include <condition_variable>
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
    Ipv4Address address{};
};

void lookUpName(const std::shared_ptr<LookUp>& lookUp, const std::string& host) {
    Ipv4Address address{};
    const bool found = lookUpIPv4(host, address);
    std::lock_guard lock(lookUp->mutex);
    lookUp->address = address;
    lookUp->found = found;
    lookUp->finished = true;
    lookUp->done.notify_all();
}

}  // namespace

AttemptStep resolveIPv4(const char* host, std::stop_token stop, Ipv4Address& address) {
    // A dotted address needs no resolver (and the resolver would give it back as is).
    if (parseDottedIPv4(host, address)) return AttemptStep::Done;

    auto lookUp = std::make_shared<LookUp>();
    std::thread(lookUpName, lookUp, std::string(host)).detach();
    std::unique_lock lock(lookUp->mutex);
    lookUp->done.wait(lock, stop, [&] { return lookUp->finished; });
    if (!lookUp->finished) return AttemptStep::Stopped;
    if (!lookUp->found) return AttemptStep::Failed;
    address = lookUp->address;
    return AttemptStep::Done;
}

UniqueFd createTcpSocket() {
    return openTcpSocket();
}

void disableNagle(int socket) {
    setNoDelay(socket);
}

AttemptStep connectIPv4(int socket, Ipv4Address address, std::uint16_t port, std::stop_token stop) {
    // The connect runs non-blocking so that a stop request is seen while it waits;
    // the socket is made blocking again afterwards, as a plain connect leaves it.
    if (!setNonBlocking(socket, true)) return AttemptStep::Failed;
    ConnectState state = startConnect(socket, address, port);
    while (state == ConnectState::Pending) {
        if (stop.stop_requested()) return AttemptStep::Stopped;
        state = waitForConnect(socket, ATTEMPT_STOP_POLL);
    }
    if (state == ConnectState::Failed) return AttemptStep::Failed;
    if (!setNonBlocking(socket, false)) return AttemptStep::Failed;
    return AttemptStep::Done;
}

bool makeNonBlocking(int socket) {
    return setNonBlocking(socket, true);
}

}  // namespace velgor
