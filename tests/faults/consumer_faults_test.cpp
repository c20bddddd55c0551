// Faults on the consumer side that the relay must shrug off: a consumer that
// floods it with megabytes of bytes that are no command, and the reconnect
// thread racing the operator's dialogs while connections come and go.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "controls/controls_rig.h"
#include "faults/fault_support.h"
#include "links/link_rig.h"
#include "links/socket_event.h"
#include "shell/controls/relay_controls.h"

namespace velgor::test {
namespace {

using Clock = std::chrono::steady_clock;

DialogFields typed(std::string_view first, std::string_view second = {}) {
    DialogFields fields;
    fields.texts[0] = first;
    fields.texts[1] = second;
    return fields;
}

// The port of the far end of a connected socket.
std::uint16_t peerPortOf(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

// Sends everything from the relay's own thread, letting the relay run whenever
// the connection is full (a blocking send would wait for ever for it).
bool sendPumping(LinkRig& rig, const Peer& peer, std::string_view bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + 30s;
    while (done < bytes.size() && Clock::now() < deadline) {
        const ssize_t n = ::send(peer.fd(), bytes.data() + done, bytes.size() - done,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            rig.host.pump(2ms);
        }
    }
    return done == bytes.size();
}

// Megabytes from the consumer: random bytes with the two commands and their
// halves strewn through them, so that reads see commands glued to other bytes,
// split, doubled. None of it is a command block: the mode stays, the link stays
// up, lines keep flowing in order. A command sent alone afterwards still works.
TEST(ConsumerFloodTest, MegabytesThatAreNoCommandChangeNothing) {
    LinkRig rig;
    LinkPeers peers;
    ASSERT_TRUE(rig.connectBoth(peers, Connecting::ByReconnectThread));
    Peer& feed = peers.feed;
    Peer& receiver = peers.receiver;

    const std::string original = "#SET OUT DATE ORIGINAL\r\n";
    const std::string text = "#SET OUT DATE TEXT\r\n";
    std::mt19937 random(1090);
    std::string flood;
    while (flood.size() < 4'000'000) {
        const std::size_t run = random() % 3000;
        for (std::size_t i = 0; i < run; ++i) flood.push_back(static_cast<char>(random()));
        switch (random() % 4) {
            case 0:
                flood += original;
                break;
            case 1:
                flood += original.substr(0, random() % original.size());
                break;
            case 2:
                flood += text + original;
                break;
            default:
                flood += original.substr(random() % original.size());
                break;
        }
    }

    std::vector<std::string> sent;
    const std::size_t chunk = 64 * 1024;
    for (std::size_t at = 0; at < flood.size(); at += chunk) {
        ASSERT_TRUE(sendPumping(rig, feed, std::string_view(flood).substr(at, chunk)));
        const std::string line =
            "*8D4840D6202CC371C32CE05" + std::to_string(100000 + at / chunk) + ";\r\n";
        ASSERT_TRUE(receiver.send(line));
        sent.push_back(line);
        feed.readAvailable();
    }
    // Until the relay has read the whole flood.
    ASSERT_TRUE(rig.host.runUntil(
        [&] { return pendingSocketEvent(rig.socketOf(LINK_CONSUMER)) == FD_NONE; }, 10s));
    rig.host.runUntil(
        [&] {
            return linesOf(afterHandshake((feed.readAvailable(), feed.received()))).size() >=
                   sent.size();
        },
        5s);

    EXPECT_EQ(rig.relay.sender().rawPassThrough(), 0);
    EXPECT_EQ(rig.state(LINK_CONSUMER), LINK_UP);
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_UP);
    EXPECT_EQ(linesOf(afterHandshake(feed.received())), sent);

    ASSERT_TRUE(feed.send(original));
    EXPECT_TRUE(rig.host.runUntil([&] { return rig.relay.sender().rawPassThrough() == 1; }, 5s));
    rig.stopReconnecting();
}

// The reconnect thread keeps connecting while the operator changes both links'
// endpoints, the station's name and position and the modes, and peers close
// connections as soon as they come (some in the middle of the handshake). No
// slot is ever up without a socket, every handshake is whole and made of one
// consistent set of values, and at the end both links settle on the last
// endpoints with the last values. Run under the thread sanitizer, this is the
// race test of the two threads' hand-over.
TEST(DialogRaceTest, ReconnectThreadAgainstDialogsAndClosingPeers) {
    LinkRig rig;
    TempSettingsDir files;
    RecordingView view;
    RelayControls controls(rig.relay, files.dir(), view);
    Listener sources[2], consumers[2];
    RefusingPort refusing;
    rig.setEndpoint(LINK_SOURCE, sources[0].port());
    rig.setEndpoint(LINK_CONSUMER, consumers[0].port());
    rig.startReconnecting();

    std::vector<Peer> consumerPeers, sourcePeers;
    std::set<std::string> names;
    int upWithoutSocket = 0;
    // Every third new connection is closed again at once, perhaps in the middle
    // of the handshake (the consumer's by a reset now and then); the others stay
    // until the relay drops them. Nothing is closed while settling.
    bool settling = false;
    auto takeConnections = [&] {
        for (const Listener& listener : consumers) {
            for (int fd; (fd = listener.tryAccept()) >= 0;) {
                consumerPeers.emplace_back(fd);
                if (settling || consumerPeers.size() % 3 != 0) continue;
                if (consumerPeers.size() % 2 == 0) {
                    consumerPeers.back().close();
                } else {
                    resetAndClose(consumerPeers.back().fd());
                    consumerPeers.back() = Peer();
                }
            }
        }
        for (const Listener& listener : sources) {
            for (int fd; (fd = listener.tryAccept()) >= 0;) {
                sourcePeers.emplace_back(fd);
                if (!settling && sourcePeers.size() % 3 == 0) sourcePeers.back().close();
            }
        }
        for (Peer& peer : consumerPeers) peer.readAvailable();
    };
    auto checkSlots = [&] {
        for (int link : {LINK_SOURCE, LINK_CONSUMER}) {
            if (rig.state(link) == LINK_UP && rig.socketOf(link) == INVALID_SOCKET_HANDLE) {
                ++upWithoutSocket;
            }
        }
    };

    const auto until = Clock::now() + 6s;
    for (int round = 0; Clock::now() < until; ++round) {
        const std::string k = std::to_string(round);
        switch (round % 7) {
            case 0:
                controls.acceptDialog(
                    DialogKind::SourceLink,
                    typed(std::to_string(round % 3 == 0 ? refusing.port()
                                                        : sources[round % 2].port()),
                          round % 2 == 0 ? "127.0.0.1" : "localhost"));
                break;
            case 1:
                controls.acceptDialog(
                    DialogKind::ConsumerLink,
                    typed(std::to_string(consumers[round % 2].port()), "127.0.0.1"));
                break;
            case 2:
                names.insert("Station" + k);
                controls.acceptDialog(DialogKind::StationName, typed("Station" + k));
                break;
            case 3:
                controls.acceptDialog(DialogKind::Coordinates, typed(k, "-" + k));
                break;
            case 4:
                controls.toggleCompression();
                break;
            case 5:
                controls.toggleBinaryMode();
                break;
            default:
                break;
        }
        rig.host.pump(std::chrono::milliseconds(5 + round % 40));
        checkSlots();
        takeConnections();
    }

    // Settle: the last values, the second endpoints, nobody closing any more.
    settling = true;
    controls.acceptDialog(DialogKind::StationName, typed("Final"));
    controls.acceptDialog(DialogKind::Coordinates, typed("47", "-47"));
    controls.acceptDialog(DialogKind::SourceLink,
                          typed(std::to_string(sources[1].port()), "127.0.0.1"));
    controls.acceptDialog(DialogKind::ConsumerLink,
                          typed(std::to_string(consumers[1].port()), "localhost"));
    ASSERT_TRUE(rig.host.runUntil(
        [&] {
            takeConnections();
            return rig.relay.links().isUp(LINK_SOURCE) && rig.relay.links().isUp(LINK_CONSUMER);
        },
        10s));
    rig.host.pump(300ms);
    takeConnections();
    checkSlots();
    EXPECT_EQ(upWithoutSocket, 0);
    EXPECT_EQ(peerPortOf(rig.socketOf(LINK_SOURCE)), sources[1].port());
    EXPECT_EQ(peerPortOf(rig.socketOf(LINK_CONSUMER)), consumers[1].port());

    // Every handshake that arrived whole is one consistent set: a name that was
    // set, a latitude that is minus the longitude, a known mode line.
    int whole = 0;
    for (const Peer& peer : consumerPeers) {
        std::vector<std::string> lines;
        afterHandshake(peer.received(), &lines);
        if (lines.size() < 4) continue;
        ++whole;
        const std::string name = lines[0].substr(1, lines[0].size() - 3);
        EXPECT_TRUE(name == "Kervala" || name == "Final" || names.count(name) == 1) << name;
        const double latitude = std::stod(lines[1].substr(1));
        const double longitude = std::stod(lines[2].substr(1));
        EXPECT_DOUBLE_EQ(latitude, -longitude) << lines[1] << lines[2];
        const std::set<std::string> modes = {"#TEXT\r\n", "#BINARY\r\n", "#TEXT:COMPRESS\r\n",
                                             "#BINARY:COMPRESS\r\n"};
        EXPECT_EQ(modes.count(lines[3]), 1u) << lines[3];
    }
    EXPECT_GE(whole, 2) << "the race needs connections to race with";

    const Peer& last = consumerPeers.back();
    std::vector<std::string> lastHandshake;
    afterHandshake(last.received(), &lastHandshake);
    ASSERT_EQ(lastHandshake.size(), 4u);
    EXPECT_EQ(lastHandshake[0], "#Final\r\n");
    EXPECT_EQ(lastHandshake[1], "#47.000000\r\n");
    EXPECT_EQ(lastHandshake[2], "#-47.000000\r\n");
    rig.stopReconnecting();
    std::printf("[ measured ] %zu consumer and %zu source connections, %d whole handshakes\n",
                consumerPeers.size(), sourcePeers.size(), whole);
}

}  // namespace
}  // namespace velgor::test
