// Fuzzes a link's host text from its settings file to the addresses an attempt
// connects to: the input becomes the source or the consumer link's file
// ("initmkp1.ini", "initmkp2.ini"; line 1 the port, line 2 the host), read
// through loadSettingsFromBytes, and the host goes through resolveHost with a
// name look-up of the harness's own that never reaches a resolver: it notes the
// name it is asked for and answers nothing, an IPv4 address, an IPv6 address or
// both. What comes out is checked against rules worked out independently:
//   - "[...]" is taken only when inet_pton(AF_INET6) takes the text inside, and
//     then as that address; any other bracketed text fails; neither is looked up;
//   - a strict dotted address, a plain IPv6 address and a short dotted form
//     (inet_aton's) are taken as they are and never looked up;
//   - anything else is looked up once, with exactly the text, and the attempt
//     gets the look-up's answer as it is (none: it fails);
//   - a taken address reads back from the status line's text (addressText) as
//     the same address, and a strict dotted address shows as written.
//
// Input: one flag byte (bit 0: consumer instead of source link; bits 1-2: the
// look-up's answer: none, IPv4, IPv6, both), then the file's bytes.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "config/link_endpoint.h"
#include "config/relay_settings.h"
#include "config/settings_file_names.h"
#include "config/settings_loader.h"
#include "fuzz_check.h"
#include "links/tcp_connect.h"
#include "sys/socket_calls.h"

namespace {

using velgor::AddressFamily;
using velgor::IpAddress;

IpAddress v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    IpAddress address;
    address.bytes[0] = a;
    address.bytes[1] = b;
    address.bytes[2] = c;
    address.bytes[3] = d;
    return address;
}

IpAddress v6(std::uint8_t last) {
    IpAddress address;
    address.family = AddressFamily::IPv6;
    address.bytes[0] = 0x20;
    address.bytes[1] = 0x01;
    address.bytes[2] = 0x0d;
    address.bytes[3] = 0xb8;
    address.bytes[15] = last;
    return address;
}

// The look-up's answer for this run, and what it was asked. No stop can come
// through the empty token given to resolveHost, so the look-up runs on this thread.
std::vector<IpAddress> answer;
std::string askedName;
int lookUps = 0;

std::vector<IpAddress> fakeLookUp(const std::string& host) {
    askedName = host;
    ++lookUps;
    return answer;
}

IpAddress fromInet4(const in_addr& parsed) {
    IpAddress address;
    std::memcpy(address.bytes.data(), &parsed, 4);
    return address;
}

// The address the host text stands for without a look-up, by the C library's own
// parsers; false when the text needs one.
bool literalAddress(const std::string& text, IpAddress& address, bool& strictIPv4) {
    in_addr four{};
    in6_addr six{};
    strictIPv4 = inet_pton(AF_INET, text.c_str(), &four) == 1;
    if (strictIPv4 || inet_aton(text.c_str(), &four) != 0) {
        address = fromInet4(four);
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), &six) == 1) {
        address = IpAddress{};
        address.family = AddressFamily::IPv6;
        std::memcpy(address.bytes.data(), &six, 16);
        return true;
    }
    return false;
}

// The status line's text of the address names the same address again.
void checkShownAddress(const IpAddress& address) {
    const std::string shown = velgor::addressText(address);
    FUZZ_CHECK(!shown.empty(), "no text for the address");
    std::array<std::uint8_t, 16> back{};
    const int family = address.family == AddressFamily::IPv6 ? AF_INET6 : AF_INET;
    FUZZ_CHECK(inet_pton(family, shown.c_str(), back.data()) == 1, "shown address unreadable");
    const std::size_t width = address.family == AddressFamily::IPv6 ? 16 : 4;
    FUZZ_CHECK(std::memcmp(back.data(), address.bytes.data(), width) == 0,
               "shown address reads back as another");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    const bool consumerLink = (flags & 1) != 0;
    switch ((flags >> 1) & 3) {
        case 0:
            answer = {};
            break;
        case 1:
            answer = {v4(203, 0, 113, 7)};
            break;
        case 2:
            answer = {v6(7)};
            break;
        default:
            answer = {v6(9), v4(198, 51, 100, 9)};
            break;
    }
    askedName.clear();
    lookUps = 0;

    const velgor::SettingsFileBytes file{
        consumerLink ? velgor::SETTINGS_FILE_CONSUMER_LINK : velgor::SETTINGS_FILE_SOURCE_LINK,
        std::string_view(reinterpret_cast<const char*>(data + 1), size - 1)};
    velgor::RelaySettings settings;
    velgor::LinkEndpoint local;
    velgor::LinkEndpoint source;
    velgor::LinkEndpoint consumer;
    velgor::loadSettingsFromBytes(std::span(&file, 1), settings, local, source, consumer);
    const velgor::LinkEndpoint& endpoint = consumerLink ? consumer : source;

    const std::size_t length = strnlen(endpoint.host.c_str(), velgor::Text256::size());
    FUZZ_CHECK(length < velgor::Text256::size(), "host runs past its field");
    const std::string host(endpoint.host.c_str(), length);
    FUZZ_CHECK(host.find_first_of("\r\n") == std::string::npos, "line end in the host");

    std::vector<IpAddress> addresses;
    const velgor::AttemptStep step =
        velgor::resolveHost(endpoint.host.c_str(), std::stop_token{}, fakeLookUp, addresses);
    FUZZ_CHECK(step != velgor::AttemptStep::Stopped, "stopped without a stop request");

    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    IpAddress literal;
    bool strictIPv4 = false;
    if (bracketed) {
        in6_addr six{};
        const std::string inside = host.substr(1, host.size() - 2);
        FUZZ_CHECK(lookUps == 0, "bracketed text looked up");
        if (inet_pton(AF_INET6, inside.c_str(), &six) != 1) {
            FUZZ_CHECK(step == velgor::AttemptStep::Failed, "bracketed non-IPv6 text taken");
            return 0;
        }
        literal.family = AddressFamily::IPv6;
        std::memcpy(literal.bytes.data(), &six, 16);
        FUZZ_CHECK(step == velgor::AttemptStep::Done, "bracketed IPv6 address refused");
        FUZZ_CHECK(addresses.size() == 1 && addresses[0] == literal, "bracketed address changed");
        checkShownAddress(addresses[0]);
        return 0;
    }
    if (literalAddress(host, literal, strictIPv4)) {
        FUZZ_CHECK(lookUps == 0, "address looked up");
        FUZZ_CHECK(step == velgor::AttemptStep::Done, "address refused");
        FUZZ_CHECK(addresses.size() == 1 && addresses[0] == literal, "address changed");
        checkShownAddress(addresses[0]);
        if (strictIPv4) FUZZ_CHECK(velgor::addressText(addresses[0]) == host, "shown otherwise");
        return 0;
    }
    FUZZ_CHECK(lookUps == 1, "name not looked up exactly once");
    FUZZ_CHECK(askedName == host, "look-up asked for another text");
    if (answer.empty()) {
        FUZZ_CHECK(step == velgor::AttemptStep::Failed, "a name without addresses taken");
    } else {
        FUZZ_CHECK(step == velgor::AttemptStep::Done, "a name's addresses refused");
        FUZZ_CHECK(addresses == answer, "a name's addresses changed");
    }
    return 0;
}
