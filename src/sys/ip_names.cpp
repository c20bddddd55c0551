// The address, name and text calls that POSIX and Winsock spell alike.
#include "sys/ip_sockaddr.h"
#include "sys/socket_calls.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netdb.h>
#endif

#include <cstring>

namespace velgor {

IpAddress ipAddressOf(Ipv4Address address) {
    IpAddress ip;
    std::memcpy(ip.bytes.data(), &address.networkOrder, 4);
    return ip;
}

int nativeFamily(AddressFamily family) {
    return family == AddressFamily::IPv6 ? AF_INET6 : AF_INET;
}

NativeAddress nativeAddress(const IpAddress& address, std::uint16_t port) {
    NativeAddress native;
    if (address.family == AddressFamily::IPv6) {
        sockaddr_in6 six{};
        six.sin6_family = AF_INET6;
        six.sin6_port = htons(port);
        std::memcpy(&six.sin6_addr, address.bytes.data(), 16);
        six.sin6_scope_id = address.scopeId;
        std::memcpy(&native.storage, &six, sizeof six);
        native.length = sizeof six;
    } else {
        sockaddr_in four{};
        four.sin_family = AF_INET;
        four.sin_port = htons(port);
        std::memcpy(&four.sin_addr, address.bytes.data(), 4);
        std::memcpy(&native.storage, &four, sizeof four);
        native.length = sizeof four;
    }
    return native;
}

bool fromNativeAddress(const sockaddr* native, IpAddress& address, std::uint16_t& port) {
    IpAddress found;
    if (native->sa_family == AF_INET6) {
        sockaddr_in6 six{};
        std::memcpy(&six, native, sizeof six);
        found.family = AddressFamily::IPv6;
        std::memcpy(found.bytes.data(), &six.sin6_addr, 16);
        found.scopeId = six.sin6_scope_id;
        port = ntohs(six.sin6_port);
    } else if (native->sa_family == AF_INET) {
        sockaddr_in four{};
        std::memcpy(&four, native, sizeof four);
        std::memcpy(found.bytes.data(), &four.sin_addr, 4);
        port = ntohs(four.sin_port);
    } else {
        return false;
    }
    address = found;
    return true;
}

bool parseStrictIPv4(const char* text, Ipv4Address& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text, &parsed) != 1) return false;
    address.networkOrder = parsed.s_addr;
    return true;
}

std::string dottedIPv4(Ipv4Address address) {
    in_addr raw{};
    raw.s_addr = address.networkOrder;
    char dotted[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &raw, dotted, sizeof dotted) == nullptr) return {};
    return dotted;
}

bool parseIPv6(const char* text, IpAddress& address) {
    in6_addr parsed{};
    if (::inet_pton(AF_INET6, text, &parsed) != 1) return false;
    address = IpAddress{};
    address.family = AddressFamily::IPv6;
    std::memcpy(address.bytes.data(), &parsed, 16);
    return true;
}

std::vector<IpAddress> lookUpAddresses(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    std::vector<IpAddress> found;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) == 0) {
        for (const addrinfo* at = results; at != nullptr; at = at->ai_next) {
            IpAddress address;
            std::uint16_t port = 0;
            if (at->ai_addr != nullptr && fromNativeAddress(at->ai_addr, address, port)) {
                found.push_back(address);
            }
        }
    }
    if (results != nullptr) ::freeaddrinfo(results);
    return found;
}

std::string addressText(const IpAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const int family = nativeFamily(address.family);
    if (::inet_ntop(family, address.bytes.data(), text, sizeof text) == nullptr) return {};
    return text;
}

}  // namespace velgor
