#include "shell/platform/service_notifier.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace velgor {
namespace {

// A whole decimal number, or nothing; no sign, no blanks, no overflow.
bool parseDecimal(const char* text, unsigned long long& value) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

}  // namespace

ServiceNotifier::ServiceNotifier(std::string_view address, std::chrono::microseconds watchdog)
    : watchdog_(watchdog) {
    if (address.empty()) return;
    const bool abstract = address.front() == '@';
    if (!abstract && address.front() != '/') {
        problem_ = "NOTIFY_SOCKET \"" + std::string(address) + "\" is not a socket path";
        return;
    }
    if (address.size() >= sizeof address_.sun_path) {
        problem_ = "NOTIFY_SOCKET is longer than a socket address may be";
        return;
    }
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, address.data(), address.size());
    // An abstract name starts with a NUL and is counted without a closing one; a
    // path is counted with its closing NUL.
    if (abstract) address_.sun_path[0] = '\0';
    addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() +
                                            (abstract ? 0u : 1u));
    socket_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket_.valid()) {
        problem_ = std::string("cannot open a socket for NOTIFY_SOCKET: ") + std::strerror(errno);
    }
}

ServiceNotifier ServiceNotifier::fromEnvironment() {
    const char* address = std::getenv("NOTIFY_SOCKET");
    if (address == nullptr) return {};
    std::chrono::microseconds watchdog{0};
    unsigned long long usec = 0;
    unsigned long long pid = 0;
    const char* watchdogPid = std::getenv("WATCHDOG_PID");
    const bool ours =
        watchdogPid == nullptr ||
        (parseDecimal(watchdogPid, pid) && pid == static_cast<unsigned long long>(::getpid()));
    if (ours && parseDecimal(std::getenv("WATCHDOG_USEC"), usec) && usec > 0 &&
        usec <= static_cast<unsigned long long>(std::chrono::microseconds::max().count())) {
        watchdog = std::chrono::microseconds{static_cast<std::chrono::microseconds::rep>(usec)};
    }
    return ServiceNotifier(address, watchdog);
}

void ServiceNotifier::status(std::string_view text) {
    if (!active() || (statusSent_ && text == lastStatus_)) return;
    std::string message = "STATUS=";
    for (char c : text) message.push_back(c == '\n' || c == '\r' ? ' ' : c);
    if (send(message)) {
        lastStatus_.assign(text);
        statusSent_ = true;
    }
}

bool ServiceNotifier::send(std::string_view message) {
    if (!active()) return false;
    const ssize_t sent =
        ::sendto(socket_.get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&address_), addressLength_);
    return sent == static_cast<ssize_t>(message.size());
}

}  // namespace velgor
