// Shutdown never waits for the connecting thread's blocking steps, and a
// consumer that stops reading costs one send loop, not the relay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "links/link_rig.h"
#include "links/socket_event.h"

namespace velgor::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string CONNECTING = "Идет установление связи";

// A listener whose backlog is full of connections it never takes, so that a new
// connect to it neither succeeds nor fails for as long as the system retries
// (minutes). `probe` is such a hanging connect of the test's own.
class FullListener {
  public:
    FullListener() : listener_(0) {
        for (int i = 0; i < 16 && probe < 0; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(listener_.port());
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
            if (stillConnecting(s, 200ms)) {
                probe = s;
            } else {
                fillers_.push_back(s);
            }
        }
    }
    ~FullListener() {
        for (int s : fillers_) ::close(s);
        if (probe >= 0) ::close(probe);
    }
    std::uint16_t port() const { return listener_.port(); }

    static bool stillConnecting(int socket, std::chrono::milliseconds wait) {
        pollfd watch{socket, POLLOUT, 0};
        return ::poll(&watch, 1, static_cast<int>(wait.count())) == 0;
    }

    int probe = -1;

  private:
    Listener listener_;
    std::vector<int> fillers_;
};

// Stops the reconnect thread the way shutdown does (the host refuses main-thread
// requests first) and returns how long the stop took.
Clock::duration shutDown(LinkRig& rig) {
    rig.host.beginShutdown();
    const auto started = Clock::now();
    rig.stopReconnecting();
    return Clock::now() - started;
}

// A connect that hangs does not hold up shutdown: the stop returns while the
// system would still be trying, and the attempt's socket is closed.
TEST(ShutdownTest, StopReturnsWhileAConnectHangs) {
    FullListener full;
    ASSERT_GE(full.probe, 0) << "could not make a connect hang";
    LinkRig rig;
    rig.setEndpoint(LINK_SOURCE, full.port());
    rig.setEndpoint(LINK_CONSUMER, RefusingPort().port());
    const int descriptors = openDescriptorCount();
    rig.startReconnecting();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.status(LINK_SOURCE) == CONNECTING; }, 3s));
    rig.host.pump(500ms);
    ASSERT_EQ(rig.status(LINK_SOURCE), CONNECTING) << "the connect did not hang";

    const auto took = shutDown(rig);

    EXPECT_TRUE(FullListener::stillConnecting(full.probe, 0ms))
        << "the stop came only after the system gave up connecting";
    EXPECT_LT(took, 1s);
    EXPECT_NE(rig.state(LINK_SOURCE), LINK_UP);
    EXPECT_EQ(rig.socketOf(LINK_SOURCE), INVALID_SOCKET_HANDLE);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    std::printf("[ measured ] stop during a hanging connect: %.1f ms\n",
                std::chrono::duration<double, std::milli>(took).count());
}

// The connecting thread waits for the main thread to rewrite the status lines;
// a main thread that is shutting down lets it go instead of leaving it waiting.
TEST(ShutdownTest, StopReturnsWhileWaitingForTheMainThread) {
    LinkRig rig;
    rig.setEndpoint(LINK_SOURCE, RefusingPort().port());
    const int descriptors = openDescriptorCount();
    rig.startReconnecting();
    std::this_thread::sleep_for(800ms);  // no pumping: the first refresh waits
    ASSERT_EQ(rig.status(LINK_SOURCE), CONNECTING);

    const auto took = shutDown(rig);

    EXPECT_LT(took, 1s);
    EXPECT_EQ(rig.host.tasksRun(), 0);
    EXPECT_EQ(openDescriptorCount(), descriptors) << "no socket was made";
}

// Sends that the system keeps refusing for now (a full buffer), counted.
class BusySends : public SocketOps {
  public:
    long send(int /*socket*/, const void* /*data*/, std::size_t /*length*/) override {
        ++sends;
        errno = EAGAIN;
        return -1;
    }
    std::atomic<int> sends{0};
};

// The handshake's send loop pauses 300 ms between attempts (4.5 s per line when
// nothing goes out); a stop cuts the pauses short.
TEST(ShutdownTest, StopEndsTheHandshakesSendLoop) {
    BusySends ops;
    LinkRig rig(ops);
    Listener consumer;
    rig.setEndpoint(LINK_SOURCE, RefusingPort().port());
    rig.setEndpoint(LINK_CONSUMER, consumer.port());
    rig.startReconnecting();
    ASSERT_TRUE(rig.host.runUntil([&] { return ops.sends.load() >= 2; }, 5s));

    const auto took = shutDown(rig);

    EXPECT_LT(took, 1s);
    EXPECT_LT(ops.sends.load(), 16) << "the first handshake line alone takes 16 attempts";
    EXPECT_NE(rig.state(LINK_CONSUMER), LINK_UP);
    EXPECT_EQ(rig.socketOf(LINK_CONSUMER), INVALID_SOCKET_HANDLE);
}

// Real sends, counted per socket; real pauses, counted.
class CountingSends : public SocketOps {
  public:
    long send(int socket, const void* data, std::size_t length) override {
        const long sent = SocketOps::send(socket, data, length);
        std::lock_guard lock(mutex_);
        if (socket == watched) {
            ++sends;
            if (sent < 0 || static_cast<std::size_t>(sent) < length) ++shortSends;
        }
        return sent;
    }
    void pause(std::chrono::milliseconds duration) override {
        {
            std::lock_guard lock(mutex_);
            ++pauses;
        }
        SocketOps::pause(duration);
    }
    void watch(int socket) {
        std::lock_guard lock(mutex_);
        watched = socket;
        sends = shortSends = pauses = 0;
    }
    int count(const int& field) {
        std::lock_guard lock(mutex_);
        return field;
    }

    int watched = -1;
    int sends = 0;
    int shortSends = 0;
    int pauses = 0;

  private:
    std::mutex mutex_;
};

// A consumer that takes its connection and reads nothing. The relay's forward to
// it runs the send loop to its end (16 attempts, 15 pauses of 300 ms) and drops
// the rest; then the relay is at once responsive again: the consumer's close is
// handled and the link is made anew.
TEST(StalledConsumerTest, SendLoopGivesUpAfter16AttemptsAndTheRelayCarriesOn) {
    constexpr int SMALL_BUFFER = 4096;
    CountingSends ops;
    LinkRig rig(ops);
    Listener source;
    Listener consumer(8, SMALL_BUFFER);
    rig.setEndpoint(LINK_SOURCE, source.port());
    rig.setEndpoint(LINK_CONSUMER, consumer.port());
    rig.startReconnecting();
    Peer receiver = rig.acceptWhenUp(LINK_SOURCE, source);
    Peer feed = rig.acceptWhenUp(LINK_CONSUMER, consumer);
    ASSERT_TRUE(receiver.connected() && feed.connected());
    ASSERT_TRUE(feed.send("#SET OUT DATE ORIGINAL\r\n"));
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.relay.sender().rawPassThrough() == 1; }, 5s));

    const int relaySocket = rig.socketOf(LINK_CONSUMER);
    ::setsockopt(relaySocket, SOL_SOCKET, SO_SNDBUF, &SMALL_BUFFER, sizeof SMALL_BUFFER);
    ops.watch(relaySocket);
    // One block, far more than the buffers on the way hold, read by the relay in
    // one piece: it has all arrived before the relay looks.
    const std::string block(60000, 'x');
    ASSERT_TRUE(receiver.send(block));
    std::this_thread::sleep_for(300ms);

    const int reads = rig.host.eventsDelivered(LINK_SOURCE, FD_READ);
    const auto started = Clock::now();
    ASSERT_TRUE(rig.host.runUntil(
        [&] { return rig.host.eventsDelivered(LINK_SOURCE, FD_READ) > reads; }, 10s));
    const auto took = Clock::now() - started;
    ASSERT_EQ(pendingSocketEvent(rig.socketOf(LINK_SOURCE)), FD_NONE) << "read in one piece";

    EXPECT_EQ(ops.count(ops.sends), 16);
    EXPECT_EQ(ops.count(ops.shortSends), 16);
    EXPECT_EQ(ops.count(ops.pauses), 15);
    EXPECT_GE(took, 4400ms);
    EXPECT_EQ(rig.state(LINK_CONSUMER), LINK_UP);

    // Responsive again: the consumer's close is seen at once, the link comes back.
    feed.close();
    const auto closed = Clock::now();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 5s));
    EXPECT_LT(Clock::now() - closed, 500ms);
    Peer again = rig.acceptWhenUp(LINK_CONSUMER, consumer);
    ASSERT_TRUE(again.connected());
    EXPECT_TRUE(rig.host.runUntil(
        [&] {
            return again.readAvailable() && again.received().find("#TEXT\r\n") != std::string::npos;
        },
        5s));
    rig.stopReconnecting();
    std::printf("[ measured ] forward to a stalled consumer held the main thread %.2f s\n",
                std::chrono::duration<double>(took).count());
}

}  // namespace
}  // namespace velgor::test
