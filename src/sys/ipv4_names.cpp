// The IPv4 name and text calls that POSIX and Winsock spell alike.
#include "sys/socket_calls.h"

#ifdef _WIN32
#include "sys/win/winsock_fd.h"
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

namespace velgor {

bool parseStrictIPv4(const char* text, Ipv4Address& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text, &parsed) != 1) return false;
    address.networkOrder = parsed.s_addr;
    return true;
}

bool lookUpIPv4(const std::string& host, Ipv4Address& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &results);
    bool found = false;
    if (rc == 0 && results != nullptr && results->ai_addr != nullptr) {
        sockaddr_in first{};
        std::memcpy(&first, results->ai_addr, sizeof first);
        address.networkOrder = first.sin_addr.s_addr;
        found = true;
    }
    if (results != nullptr) ::freeaddrinfo(results);
    return found;
}

std::string dottedIPv4(Ipv4Address address) {
    in_addr raw{};
    raw.s_addr = address.networkOrder;
    char dotted[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &raw, dotted, sizeof dotted) == nullptr) return {};
    return dotted;
}

}  // namespace velgor
