#include "links/tcp_connect.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace velgor {
namespace {

// A name look-up running on a thread of its own. The attempt that started it and
// the look-up thread share this record; whichever lets go last frees it.
struct LookUp {
    std::mutex mutex;
    std::condition_variable_any done;
    bool finished = false;
    std::vector<IpAddress> addresses;
};

void lookUpName(const std::shared_ptr<LookUp>& lookUp, NameLookUp resolver,
                const std::string& host) {
    std::vector<IpAddress> addresses = resolver(host);
    std::lock_guard lock(lookUp->mutex);
    lookUp->addresses = std::move(addresses);
    lookUp->finished = true;
    lookUp->done.notify_all();
}

// The name's addresses, unless a stop is requested first (false): the look-up
// then finishes on its own thread and its answer is dropped. A token no stop can
// come through needs no thread: the look-up runs here.
bool lookUpUnlessStopped(const std::string& name, std::stop_token stop, NameLookUp lookUp,
                         std::vector<IpAddress>& found) {
    if (!stop.stop_possible()) {
        found = lookUp(name);
        return true;
    }
    auto pending = std::make_shared<LookUp>();
    std::thread(lookUpName, pending, lookUp, name).detach();
    std::unique_lock lock(pending->mutex);
    pending->done.wait(lock, stop, [&] { return pending->finished; });
    if (!pending->finished) return false;
    found = std::move(pending->addresses);
    return true;
}

// "[...]" around the text, as around an IPv6 address in a URL.
bool isBracketed(const std::string& host) {
    return host.size() >= 2 && host.front() == '[' && host.back() == ']';
}

}  // namespace

AttemptStep resolveHost(const char* host, std::stop_token stop, NameLookUp lookUp,
                        std::vector<IpAddress>& addresses) {
    const std::string text = host;
    Ipv4Address four{};
    IpAddress six{};
    // Brackets hold an IPv6 address and nothing else, and only a whole one: any
    // other bracketed text is no host on any platform (some resolvers take
    // "[127.0.0.1]", others do not) and never reaches the resolver.
    if (isBracketed(text)) {
        if (!parseIPv6(text.substr(1, text.size() - 2).c_str(), six)) return AttemptStep::Failed;
        addresses = {six};
        return AttemptStep::Done;
    }
    // A numeric address needs no resolver (and the resolver would give it back as is).
    if (parseDottedIPv4(text.c_str(), four)) {
        addresses = {ipAddressOf(four)};
        return AttemptStep::Done;
    }
    if (parseIPv6(text.c_str(), six)) {
        addresses = {six};
        return AttemptStep::Done;
    }

    std::vector<IpAddress> found;
    if (!lookUpUnlessStopped(text, stop, lookUp, found)) return AttemptStep::Stopped;
    if (found.empty()) return AttemptStep::Failed;
    addresses = std::move(found);
    return AttemptStep::Done;
}

UniqueFd createTcpSocket(AddressFamily family) {
    return openTcpSocket(family);
}

void disableNagle(int socket) {
    setNoDelay(socket);
}

AttemptStep connectAddress(int socket, const IpAddress& address, std::uint16_t port,
                           std::stop_token stop, std::chrono::milliseconds limit) {
    // The connect runs non-blocking so that a stop request is seen while it waits;
    // the socket is made blocking again afterwards, as a plain connect leaves it.
    if (!setNonBlocking(socket, true)) return AttemptStep::Failed;
    const auto giveUpAt = std::chrono::steady_clock::now() + limit;
    ConnectState state = startConnect(socket, address, port);
    while (state == ConnectState::Pending) {
        if (stop.stop_requested()) return AttemptStep::Stopped;
        if (std::chrono::steady_clock::now() >= giveUpAt) return AttemptStep::Failed;
        state = waitForConnect(socket, ATTEMPT_STOP_POLL);
    }
    if (state == ConnectState::Failed) return AttemptStep::Failed;
    if (!setNonBlocking(socket, false)) return AttemptStep::Failed;
    return AttemptStep::Done;
}

AttemptStep connectFirstAnswering(std::span<const IpAddress> addresses, std::uint16_t port,
                                  std::stop_token stop, std::chrono::milliseconds limitEach,
                                  UniqueFd& socket, IpAddress& used) {
    UniqueFd spareIPv4 = std::move(socket);
    for (const IpAddress& address : addresses) {
        // A socket that saw a connect fail cannot be used for another one.
        UniqueFd trying = address.family == AddressFamily::IPv4 && spareIPv4.valid()
                              ? std::move(spareIPv4)
                              : createTcpSocket(address.family);
        if (!trying.valid()) continue;  // no socket of this family here: the next address
        disableNagle(trying.get());
        const AttemptStep step = connectAddress(trying.get(), address, port, stop, limitEach);
        if (step == AttemptStep::Failed) continue;
        if (step == AttemptStep::Done) {
            socket = std::move(trying);
            used = address;
        }
        return step;
    }
    return AttemptStep::Failed;
}

bool makeNonBlocking(int socket) {
    return setNonBlocking(socket, true);
}

}  // namespace velgor
