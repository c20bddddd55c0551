#include "faults/fault_support.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cctype>

namespace velgor::test {

void resetAndClose(int fd) {
    if (fd < 0) return;
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

ReceiverRecord makeRecord(char type, std::uint64_t timestamp, unsigned seed, bool withEscapes) {
    const std::size_t messageBytes = type == '1' ? 2 : type == '2' ? 7 : 14;
    std::string body;
    for (int shift = 40; shift >= 0; shift -= 8) {
        body.push_back(static_cast<char>((timestamp >> shift) & 0xFF));
    }
    body.push_back(static_cast<char>(0x80));  // signal level
    for (std::size_t i = 0; i < messageBytes; ++i) {
        unsigned char byte = static_cast<unsigned char>((seed * 37u + i * 11u + 0x41u) & 0xFF);
        if (byte == 0x1A) byte = 0x1B;
        if (withEscapes && (i == 1 || i + 1 == messageBytes)) byte = 0x1A;
        body.push_back(static_cast<char>(byte));
    }

    ReceiverRecord record;
    record.wire.push_back('\x1A');
    record.wire.push_back(type);
    for (char c : body) {
        record.wire.push_back(c);
        if (c == '\x1A') record.wire.push_back(c);
    }
    constexpr char DIGITS[] = "0123456789ABCDEF";
    record.line.push_back('@');
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (i == 6) continue;  // the level is not part of the line
        const auto byte = static_cast<unsigned char>(body[i]);
        record.line.push_back(DIGITS[byte >> 4]);
        record.line.push_back(DIGITS[byte & 0x0F]);
    }
    record.line.append(";\r\n");
    return record;
}

bool wellFormedLine(std::string_view line) {
    if (line.size() < 4 || line.substr(line.size() - 3) != ";\r\n") return false;
    const char first = line.front();
    if (first != '@' && first != '*') return false;
    const std::string_view digits = line.substr(1, line.size() - 4);
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) ||
            std::islower(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    if (first == '@') {
        return digits.size() == 16 || digits.size() == 26 || digits.size() == 40;
    }
    return digits.size() == 4 || digits.size() == 14 || digits.size() == 28;
}

std::string afterHandshake(std::string_view stream, std::vector<std::string>* handshake) {
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = stream.find("\r\n", at);
        if (end == std::string_view::npos) return {};
        if (handshake != nullptr) handshake->emplace_back(stream.substr(at, end + 2 - at));
        at = end + 2;
    }
    return std::string(stream.substr(at));
}

}  // namespace velgor::test
