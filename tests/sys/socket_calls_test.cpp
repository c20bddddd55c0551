// The socket seam's calls for listening, accepting, addresses and polling, on
// loopback sockets: the same behaviour on POSIX and under Winsock.
#include "sys/socket_calls.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <span>
#include <string>

#include "sys/socket_ops.h"

namespace velgor {
namespace {

using namespace std::chrono_literals;

Ipv4Address loopback() {
    Ipv4Address address;
    EXPECT_TRUE(parseStrictIPv4("127.0.0.1", address));
    return address;
}

// Only four dotted decimal numbers: none of the short or hexadecimal forms
// parseDottedIPv4 takes for a link's host.
TEST(StrictIPv4, TakesFourDecimalNumbersOnly) {
    const struct {
        const char* text;
        bool taken;
    } cases[] = {
        {"127.0.0.1", true}, {"0.0.0.0", true},     {"255.255.255.255", true},
        {"10.1", false},     {"0x7f.0.0.1", false}, {"256.1.2.3", false},
        {"1.2.3", false},    {"", false},           {"localhost", false},
    };
    for (const auto& c : cases) {
        Ipv4Address address;
        EXPECT_EQ(parseStrictIPv4(c.text, address), c.taken) << c.text;
        if (c.taken) {
            EXPECT_EQ(dottedIPv4(address), c.text);
        }
    }
}

// A listener on a free port, a connection to it and the accepted end: each
// end's own address is the other's peer address.
TEST(SocketCalls, ListenConnectAndAcceptAgreeOnTheAddresses) {
    const UniqueFd listener = listenTcp(loopback(), 0, 1);
    ASSERT_TRUE(listener.valid()) << lastSocketError();
    Ipv4Address listening;
    std::uint16_t port = 0;
    ASSERT_TRUE(socketAddress(listener.get(), listening, port));
    EXPECT_EQ(dottedIPv4(listening), "127.0.0.1");
    ASSERT_NE(port, 0);

    const UniqueFd client = openTcpSocket();
    ASSERT_EQ(startConnect(client.get(), loopback(), port), ConnectState::Connected);
    const UniqueFd accepted = acceptConnection(listener.get());
    ASSERT_TRUE(accepted.valid()) << lastSocketError();

    Ipv4Address address;
    std::uint16_t clientPort = 0;
    std::uint16_t seenPort = 0;
    ASSERT_TRUE(socketAddress(client.get(), address, clientPort));
    ASSERT_TRUE(peerAddress(accepted.get(), address, seenPort));
    EXPECT_EQ(seenPort, clientPort);
    EXPECT_EQ(dottedIPv4(address), "127.0.0.1");
    ASSERT_TRUE(peerAddress(client.get(), address, seenPort));
    EXPECT_EQ(seenPort, port);
    EXPECT_FALSE(peerAddress(listener.get(), address, seenPort)) << "a listener has no peer";

    // The port is taken while the listener holds it.
    EXPECT_FALSE(listenTcp(loopback(), port, 1).valid());
    EXPECT_EQ(lastSocketError(), EADDRINUSE);
}

// What a poll reports: room at once, nothing to read until data comes, the
// peer's close without its data when only that is watched for, and the close as
// readable (a peek then reads the end).
TEST(SocketCalls, PollReportsRoomDataAndThePeersClose) {
    UniqueFd watched;
    UniqueFd other;
    ASSERT_TRUE(makeSocketPair(watched, other));
    std::array<PolledSocket, 1> both{
        PolledSocket{watched.get(), SOCKET_READABLE | SOCKET_WRITABLE}};
    EXPECT_EQ(pollSockets(both, 0ms), 1);
    EXPECT_EQ(both[0].ready, SOCKET_WRITABLE);

    std::array<PolledSocket, 1> reading{PolledSocket{watched.get(), SOCKET_READABLE}};
    EXPECT_EQ(pollSockets(reading, 20ms), 0);
    EXPECT_EQ(reading[0].ready, 0);

    const char byte = 'x';
    ASSERT_EQ(systemSocketOps().send(other.get(), &byte, 1), 1);
    EXPECT_EQ(pollSockets(reading, 5s), 1);
    EXPECT_EQ(reading[0].ready, SOCKET_READABLE);
    char got = 0;
    ASSERT_EQ(systemSocketOps().recv(watched.get(), &got, 1), 1);

#ifndef _WIN32
    // Watched for the peer's end alone, a socket with data waiting is not ready.
    // (WSAPoll reports no close for a socket watched for nothing else, under wine
    // at least; the Windows program watches its sockets with WSAAsyncSelect.)
    ASSERT_EQ(systemSocketOps().send(other.get(), &byte, 1), 1);
    std::array<PolledSocket, 1> ending{PolledSocket{watched.get(), SOCKET_PEER_GONE}};
    EXPECT_EQ(pollSockets(ending, 20ms), 0);
    other.reset();
    EXPECT_EQ(pollSockets(ending, 5s), 1);
    EXPECT_NE(ending[0].ready & SOCKET_PEER_GONE, 0);
    EXPECT_EQ(takeSocketError(watched.get()), 0) << "an orderly close";
    ASSERT_EQ(systemSocketOps().recv(watched.get(), &got, 1), 1) << "the byte before the close";
#else
    other.reset();
#endif

    EXPECT_EQ(pollSockets(reading, 5s), 1);
    EXPECT_EQ(reading[0].ready, SOCKET_READABLE);
    EXPECT_EQ(peekSocket(watched.get()), 0);

    // More than one call takes is refused, not cut short.
    std::array<PolledSocket, MAX_POLLED_SOCKETS + 1> tooMany{};
    for (PolledSocket& s : tooMany) s = PolledSocket{watched.get(), SOCKET_READABLE};
    EXPECT_EQ(pollSockets(tooMany, 0ms), -1);
}

}  // namespace
}  // namespace velgor
