// Connection attempts on the source and consumer links: what each attempt shows,
// what it leaves in the slot, and the reconnect thread's rhythm.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "links/link_rig.h"
#include "links/retry_schedule.h"
#include "sys/socket_calls.h"

namespace velgor::test {
namespace {

using Statuses = std::vector<std::string>;

const std::string CONNECTING = "Идет установление связи";
const std::string CONNECT_ERROR = "Ошибка connect";
const std::string CONNECTED_LOOPBACK = "Соединение 127.0.0.1";
const std::string CONNECTED_IPV6_LOOPBACK = "Соединение ::1";
const std::string DROPPED = "Связь разорвана";

std::string linkName(const ::testing::TestParamInfo<int>& param) {
    return param.param == LINK_SOURCE ? "Source" : "Consumer";
}

class ConnectAttemptTest : public ::testing::TestWithParam<int> {
  protected:
    int link() const { return GetParam(); }
    LinkRig rig;
};

INSTANTIATE_TEST_SUITE_P(BothLinks, ConnectAttemptTest,
                         ::testing::Values(LINK_SOURCE, LINK_CONSUMER), linkName);

// Nothing listens: the attempt shows its progress, then the failure; the state
// stays what it was (here the initial LINK_IDLE) and no socket is left open.
TEST_P(ConnectAttemptTest, RefusedAttemptShowsConnectErrorAndLeavesStateAlone) {
    RefusingPort nobody;
    rig.setEndpoint(link(), nobody.port());
    const int descriptors = openDescriptorCount();

    rig.attempt(link());

    EXPECT_EQ(rig.statuses.of(link()), (Statuses{CONNECTING, CONNECT_ERROR}));
    EXPECT_EQ(rig.state(link()), LINK_IDLE);
    EXPECT_EQ(rig.socketOf(link()), INVALID_SOCKET_HANDLE);
    EXPECT_EQ(rig.host.watchedSocket(link()), -1);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    // The other link's line shows nothing of it.
    const int other = link() == LINK_SOURCE ? LINK_CONSUMER : LINK_SOURCE;
    EXPECT_EQ(rig.status(other), "");
}

// Host texts that are neither a known name nor a dotted address: "Ошибка " and the
// text as written, cut to the 255 bytes of the status field.
TEST_P(ConnectAttemptTest, UnresolvableHostShowsErrorWithTheHostText) {
    const std::string longName(255, 'x');  // longer than any resolvable name
    struct Case {
        std::string host;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"no-such-host.invalid", "Ошибка no-such-host.invalid"},
        {"300.1.2.3", "Ошибка 300.1.2.3"},
        // Brackets hold an IPv6 address only, and only a whole one.
        {"[::1", "Ошибка [::1"},
        {"[127.0.0.1]", "Ошибка [127.0.0.1]"},
        {"[localhost]", "Ошибка [localhost]"},
        {"[127.0.0.1 :]", "Ошибка [127.0.0.1 :]"},  // inet_aton reads the inside
        {"::1::2", "Ошибка ::1::2"},
        // "Ошибка " is 7 bytes in Windows-1251: 248 bytes of the name fit after it.
        {longName, "Ошибка " + longName.substr(0, 248)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host.substr(0, 40));
        rig.statuses.clear();
        rig.setEndpoint(link(), 9, c.host);
        const int descriptors = openDescriptorCount();

        rig.attempt(link());

        EXPECT_EQ(rig.statuses.of(link()), (Statuses{CONNECTING, c.expected}));
        EXPECT_EQ(rig.state(link()), LINK_IDLE);
        EXPECT_EQ(rig.socketOf(link()), INVALID_SOCKET_HANDLE);
        EXPECT_EQ(openDescriptorCount(), descriptors);
    }
}

// A dotted address, a name the resolver knows and an IPv6 address (plain or in
// brackets) all connect; the status shows the address, never the name. The new
// socket is watched, sends at once (no coalescing), never blocks, and the no-data
// count starts again; a consumer on ::1 gets its handshake.
TEST_P(ConnectAttemptTest, SuccessfulAttemptGoesUpAndShowsTheAddress) {
    struct Case {
        const char* host;
        AddressFamily listening;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", AddressFamily::IPv4, CONNECTED_LOOPBACK},
        {"localhost", AddressFamily::IPv4, CONNECTED_LOOPBACK},
        {"::1", AddressFamily::IPv6, CONNECTED_IPV6_LOOPBACK},
        {"[::1]", AddressFamily::IPv6, CONNECTED_IPV6_LOOPBACK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        Listener listener(c.listening);
        rig.setEndpoint(link(), listener.port(), c.host);
        rig.statuses.clear();
        rig.tick(5);
        ASSERT_EQ(rig.relay.noDataTicks(), 5);

        Peer peer = rig.connect(link(), listener);

        EXPECT_EQ(rig.statuses.of(link()), (Statuses{CONNECTING, c.shown}));
        ASSERT_EQ(rig.state(link()), LINK_UP);
        const int socket = rig.socketOf(link());
        ASSERT_NE(socket, INVALID_SOCKET_HANDLE);
        EXPECT_EQ(rig.host.watchedSocket(link()), socket);
        EXPECT_EQ(rig.relay.noDataTicks(), 0);
        EXPECT_TRUE(noDelayOn(socket));
        EXPECT_TRUE(isNonBlocking(socket));
        if (link() == LINK_CONSUMER) {
            EXPECT_TRUE(rig.waitForHandshake(peer));
        }

        rig.relay.dropLink(link());
        EXPECT_EQ(rig.state(link()), LINK_DOWN);
        EXPECT_EQ(rig.status(link()), DROPPED);
        EXPECT_EQ(rig.host.watchedSocket(link()), -1);
    }
}

// A resolver that knows one name, with the two loopback addresses in the order
// the test sets.
std::vector<IpAddress> twoAddresses;
std::vector<IpAddress> lookUpTwoAddresses(const std::string& host) {
    return host == "both.test" ? twoAddresses : std::vector<IpAddress>{};
}
class TwoAddressResolver : public SocketOps {
  public:
    NameLookUp nameLookUp() override { return lookUpTwoAddresses; }
};

// A name with several addresses is tried address by address, in the resolver's
// order: when the first refuses, the link comes up on the next, and the status
// names the one in use.
TEST_P(ConnectAttemptTest, NameWhoseFirstAddressRefusesConnectsThroughTheNext) {
    Ipv4Address loopback;
    IpAddress six;
    ASSERT_TRUE(parseStrictIPv4("127.0.0.1", loopback));
    ASSERT_TRUE(parseIPv6("::1", six));
    const IpAddress four = ipAddressOf(loopback);
    struct Case {
        std::vector<IpAddress> order;
        AddressFamily listening;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {{six, four}, AddressFamily::IPv4, CONNECTED_LOOPBACK},
        {{four, six}, AddressFamily::IPv6, CONNECTED_IPV6_LOOPBACK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        twoAddresses = c.order;
        TwoAddressResolver resolver;
        LinkRig named(resolver);
        Listener listener(c.listening);
        const auto other =
            c.listening == AddressFamily::IPv4 ? AddressFamily::IPv6 : AddressFamily::IPv4;
        RefusingPort refusing(other, listener.port());
        named.setEndpoint(link(), listener.port(), "both.test");

        Peer peer = named.connect(link(), listener);

        EXPECT_EQ(named.statuses.of(link()), (Statuses{CONNECTING, c.shown}));
        EXPECT_EQ(named.state(link()), LINK_UP);
    }
}

// A failed attempt after a drop leaves the slot LINK_DOWN (not LINK_IDLE).
TEST_P(ConnectAttemptTest, FailureAfterADropKeepsLinkDown) {
    {
        Listener listener;
        rig.setEndpoint(link(), listener.port());
        Peer peer = rig.connect(link(), listener);
        ASSERT_EQ(rig.state(link()), LINK_UP);
        rig.relay.dropLink(link());
    }
    RefusingPort nobody;
    rig.setEndpoint(link(), nobody.port());
    rig.statuses.clear();
    rig.attempt(link());
    EXPECT_EQ(rig.statuses.of(link()), (Statuses{CONNECTING, CONNECT_ERROR}));
    EXPECT_EQ(rig.state(link()), LINK_DOWN);
    EXPECT_EQ(rig.socketOf(link()), INVALID_SOCKET_HANDLE);
}

// The operator gives the link a new endpoint while an attempt to the old one is
// under way (the link is not up, so nothing is dropped): the attempt must not
// leave the link up on the old endpoint. Its connection is let go and the next
// attempt goes to the new one.
TEST_P(ConnectAttemptTest, EndpointChangedDuringTheAttemptIsNotLeftOnTheOldOne) {
    Listener oldEnd;
    Listener newEnd;
    rig.setEndpoint(link(), oldEnd.port());

    std::atomic<bool> done{false};
    std::jthread worker([&](std::stop_token stop) {
        rig.relay.connectLink(link(), stop);
        done = true;
    });
    // Serve the attempt's first refresh only: once connected, the attempt waits
    // for the main thread to put the link up.
    ASSERT_TRUE(rig.host.runOneTask(5s));
    ASSERT_FALSE(rig.statuses.of(link()).empty());
    Peer old;
    for (auto until = std::chrono::steady_clock::now() + 5s;
         !old.connected() && std::chrono::steady_clock::now() < until;) {
        old = Peer(oldEnd.tryAccept());
        if (!old.connected()) std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(old.connected()) << "the attempt did not connect to the old endpoint";
    rig.setEndpoint(link(), newEnd.port());
    ASSERT_TRUE(rig.host.runUntil([&] { return done.load(); }, 5s));

    EXPECT_NE(rig.state(link()), LINK_UP);
    EXPECT_EQ(rig.socketOf(link()), INVALID_SOCKET_HANDLE);
    EXPECT_EQ(rig.host.watchedSocket(link()), -1);
    EXPECT_EQ(rig.status(link()), DROPPED);
    ASSERT_TRUE(rig.host.runUntil([&] { return !old.readAvailable(); }, 5s));
    EXPECT_TRUE(old.closedByRelay());

    Peer fresh = rig.connect(link(), newEnd);
    EXPECT_EQ(rig.state(link()), LINK_UP);
}

// A relay whose two links point at ports that refuse every connect.
struct RefusingRig {
    RefusingRig() {
        rig.setEndpoint(LINK_SOURCE, source.port());
        rig.setEndpoint(LINK_CONSUMER, consumer.port());
    }
    // When the link's status line turned to the connect error (every attempt shows
    // "connecting" first, so each error is a change of the line).
    std::vector<std::chrono::steady_clock::time_point> errorTimes(int link) const {
        std::vector<std::chrono::steady_clock::time_point> times;
        const auto& texts = rig.statuses.of(link);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (texts[i] == CONNECT_ERROR) times.push_back(rig.statuses.timesOf(link)[i]);
        }
        return times;
    }

    LinkRig rig;
    RefusingPort source;
    RefusingPort consumer;
};

// The reconnect thread tries both links every cycle of 1.5 s (source first,
// half a second apart), for ever, while nothing listens.
TEST(ReconnectThreadTest, RetriesBothLinksEveryCycleWhileNothingListens) {
    using Clock = std::chrono::steady_clock;
    RefusingRig refusing;
    LinkRig& rig = refusing.rig;
    auto errorTimes = [&](int link) { return refusing.errorTimes(link); };
    const auto started = Clock::now();
    rig.startReconnecting();
    rig.host.runUntil(
        [&] {
            return errorTimes(LINK_SOURCE).size() >= 3 && errorTimes(LINK_CONSUMER).size() >= 2;
        },
        10s);
    rig.stopReconnecting();

    const auto sourceErrors = errorTimes(LINK_SOURCE);
    const auto consumerErrors = errorTimes(LINK_CONSUMER);
    ASSERT_GE(sourceErrors.size(), 3u);
    ASSERT_GE(consumerErrors.size(), 2u);
    // Each attempt shows "connecting", then the error: nothing else, in turn.
    for (int link : {LINK_SOURCE, LINK_CONSUMER}) {
        const auto& texts = rig.statuses.of(link);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i], i % 2 == 0 ? CONNECTING : CONNECT_ERROR) << "change " << i;
        }
    }
    // First source attempt after 0.5 s, first consumer attempt half a second later.
    EXPECT_GE(sourceErrors[0] - started, 450ms);
    EXPECT_GE(consumerErrors[0] - sourceErrors[0], 450ms);
    for (std::size_t i = 1; i < sourceErrors.size(); ++i) {
        EXPECT_GE(sourceErrors[i] - sourceErrors[i - 1], 1450ms);
        EXPECT_LT(sourceErrors[i] - sourceErrors[i - 1], 2500ms);
    }
    EXPECT_GE(consumerErrors[1] - consumerErrors[0], 1450ms);
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_IDLE);
    EXPECT_EQ(rig.state(LINK_CONSUMER), LINK_IDLE);
    // The local link is never tried.
    EXPECT_EQ(rig.relay.links().slot(LINK_LOCAL).state.load(), LINK_IDLE);
    EXPECT_EQ(rig.relay.links().statusText(LINK_LOCAL).view(), "");
}

// The reconnect thread follows the consumer's schedule (here: the cycle for the
// first second of failures, then 4 s give or take a fifth), while the source keeps
// the cycle.
std::chrono::milliseconds quickBackOff(std::chrono::milliseconds failingFor) {
    return failingFor < 1s ? 0ms : std::chrono::milliseconds{4s};
}

TEST(ReconnectThreadTest, ConsumerBacksOffOnItsScheduleWhileTheSourceKeepsTheCycle) {
    RefusingRig refusing;
    LinkRig& rig = refusing.rig;
    auto errorTimes = [&](int link) { return refusing.errorTimes(link); };
    rig.startReconnecting(quickBackOff);
    rig.host.runUntil([&] { return errorTimes(LINK_CONSUMER).size() >= 3; }, 12s);
    rig.stopReconnecting();

    const auto consumerErrors = errorTimes(LINK_CONSUMER);
    ASSERT_GE(consumerErrors.size(), 3u);
    EXPECT_LT(consumerErrors[1] - consumerErrors[0], 2500ms) << "the cycle at first";
    EXPECT_GE(consumerErrors[2] - consumerErrors[1], 3200ms) << "then the schedule's pause";
    const auto sourceErrors = errorTimes(LINK_SOURCE);
    ASSERT_GE(sourceErrors.size(), 4u);
    for (std::size_t i = 1; i < sourceErrors.size(); ++i) {
        EXPECT_LT(sourceErrors[i] - sourceErrors[i - 1], 2500ms) << "source attempt " << i;
    }
}

// The consumer's pauses after failed attempts: the cycle for the first 30 s of
// failures, then a quarter of the time failing, up to 30 s; jitter spreads a
// pause by at most a fifth either way.
TEST(ConsumerRetryScheduleTest, PausesGrowAfterHalfAMinuteOfFailuresUpToHalfAMinute) {
    struct Row {
        std::chrono::milliseconds failingFor;
        std::chrono::milliseconds pause;
    };
    const std::vector<Row> rows = {
        {0ms, 0ms}, {1500ms, 0ms},   {29999ms, 0ms}, {30s, 7500ms}, {37500ms, 9375ms},
        {60s, 15s}, {119s, 29750ms}, {120s, 30s},    {3600s, 30s},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(consumerRetryPause(row.failingFor), row.pause) << row.failingFor.count();
    }
    struct Spread {
        double unit;
        std::chrono::milliseconds pause;
    };
    const std::vector<Spread> spreads = {
        {-1.0, 24s}, {-0.5, 27s}, {0.0, 30s}, {1.0, 36s}, {-7.0, 24s}, {7.0, 36s},
    };
    for (const Spread& spread : spreads) {
        EXPECT_EQ(withJitter(30s, spread.unit), spread.pause) << spread.unit;
    }
    EXPECT_EQ(withJitter(0ms, 1.0), 0ms) << "the cycle's attempts have no jitter";
}

}  // namespace
}  // namespace velgor::test
