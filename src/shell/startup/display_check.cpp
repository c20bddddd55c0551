#include "shell/startup/display_check.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "sys/unique_fd.h"

namespace velgor {
namespace {

constexpr int X_TCP_PORT = 6000;
// A loopback connect is over at once; one that is still going after this is
// taken as an answer (a server busy with others), not as a missing display.
constexpr int CONNECT_WAIT_MS = 500;

// How one connect attempt ended.
enum class Reach { Answered, Refused };

// Connects a fresh non-blocking socket to the address. A failed connect (nothing
// there, nobody listening, no right to it) is a refusal; a full queue or a slow
// handshake means a server is there, and counts as an answer.
Reach tryConnect(int family, const sockaddr* address, socklen_t length) {
    const UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return Reach::Answered;  // cannot check: leave the choice as it was
    if (::connect(fd.get(), address, length) == 0) return Reach::Answered;
    if (errno == EINPROGRESS) {
        pollfd wait{fd.get(), POLLOUT, 0};
        if (::poll(&wait, 1, CONNECT_WAIT_MS) == 1) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
                return Reach::Refused;
            }
        }
        return Reach::Answered;
    }
    return errno == EAGAIN ? Reach::Answered : Reach::Refused;
}

[[nodiscard]] bool localSocketAnswers(const std::string& name, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL
    if (name.empty() || offset + name.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, name.data(), name.size());
    // A file's name is counted with its closing NUL, an abstract one with its opening NUL.
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return tryConnect(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length) ==
           Reach::Answered;
}

[[nodiscard]] bool loopbackPortAnswers(unsigned port) {
    if (port > 65535) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return tryConnect(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
           Reach::Answered;
}

// The display number of "N" or "N.screen"; nothing when the text is not one.
std::optional<unsigned> displayNumber(std::string_view text) {
    unsigned number = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        if (digits == 6) return std::nullopt;
        number = number * 10 + static_cast<unsigned>(text[digits] - '0');
    }
    if (digits == 0 || (digits < text.size() && text[digits] != '.')) return std::nullopt;
    return number;
}

}  // namespace

bool xDisplayAnswers(std::string_view display, const std::string& socketDir) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view host = display.substr(0, colon);
    const auto number = displayNumber(display.substr(colon + 1));
    if (!number) return false;
    if (host.empty() || host == "unix") {
        const std::string socket = socketDir + "/X" + std::to_string(*number);
        if (localSocketAnswers(socket, true) || localSocketAnswers(socket, false)) return true;
        return host.empty() && loopbackPortAnswers(X_TCP_PORT + *number);
    }
    if (host == "localhost" || host == "127.0.0.1")
        return loopbackPortAnswers(X_TCP_PORT + *number);
    return true;
}

bool waylandDisplayAnswers(std::string_view display, const char* runtimeDir) {
    if (display.empty()) return false;
    if (display.front() == '/') return localSocketAnswers(std::string(display), false);
    if (runtimeDir == nullptr || runtimeDir[0] == '\0') return false;
    std::string path = runtimeDir;
    if (path.back() != '/') path.push_back('/');
    path.append(display);
    return localSocketAnswers(path, false);
}

}  // namespace velgor
