// Shutdown never waits for the connecting thread's blocking steps, and a
// consumer that stops reading never holds up the relay.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "links/link_rig.h"
#include "links/socket_event.h"
#include "links/tcp_connect.h"
#include "sys/socket_calls.h"

namespace velgor::test {
namespace {

// The receiver's side: sends `bytes` to the relay from a thread of its own until
// all of them went, or until stopped (at the latest when it goes out of scope).
class FloodSender {
  public:
    FloodSender(int fd, const std::string& bytes)
        : thread_([this, fd, &bytes] {
              for (std::size_t done = 0; done < bytes.size() && !stop_;) {
                  const long n =
                      systemSocketOps().send(fd, bytes.data() + done, bytes.size() - done);
                  if (n > 0) done += static_cast<std::size_t>(n);
                  if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    FloodSender(const FloodSender&) = delete;
    FloodSender& operator=(const FloodSender&) = delete;
    ~FloodSender() { stop(); }

    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

using Clock = std::chrono::steady_clock;

const std::string CONNECTING = "Идет установление связи";
const std::string HANDSHAKE_TEXT = "#Kervala\r\n#47.198200\r\n#39.628200\r\n#TEXT\r\n";
const std::size_t HANDSHAKE_BYTES = HANDSHAKE_TEXT.size();

// A listener whose backlog is full of connections it never takes, so that a new
// connect to it neither succeeds nor fails for as long as the system retries
// (minutes). `probe` is such a hanging connect of the test's own.
class FullListener {
  public:
    FullListener() : listener_(0) {
        Ipv4Address loopback;
        if (!parseDottedIPv4("127.0.0.1", loopback)) return;
        for (int i = 0; i < 16 && !probe_.valid(); ++i) {
            UniqueFd s = openTcpSocket();
            if (!s.valid() || !setNonBlocking(s.get(), true)) continue;
            (void)startConnect(s.get(), loopback, listener_.port());
            if (stillConnecting(s.get(), 200ms)) {
                probe_ = std::move(s);
            } else {
                fillers_.push_back(std::move(s));
            }
        }
    }
    std::uint16_t port() const { return listener_.port(); }
    int probe() const { return probe_.get(); }

    static bool stillConnecting(int socket, std::chrono::milliseconds wait) {
        return waitForConnect(socket, wait) == ConnectState::Pending;
    }

  private:
    Listener listener_;
    std::vector<UniqueFd> fillers_;
    UniqueFd probe_;
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
    ASSERT_NE(full.probe(), INVALID_FD) << "could not make a connect hang";
    LinkRig rig;
    rig.setEndpoint(LINK_SOURCE, full.port());
    RefusingPort refusing;
    rig.setEndpoint(LINK_CONSUMER, refusing.port());
    const int descriptors = openDescriptorCount();
    rig.startReconnecting();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.status(LINK_SOURCE) == CONNECTING; }, 3s));
    rig.host.pump(500ms);
    ASSERT_EQ(rig.status(LINK_SOURCE), CONNECTING) << "the connect did not hang";

    const auto took = shutDown(rig);

    EXPECT_TRUE(FullListener::stillConnecting(full.probe(), 0ms))
        << "the stop came only after the system gave up connecting";
    EXPECT_LT(took, 1s);
    EXPECT_NE(rig.state(LINK_SOURCE), LINK_UP);
    EXPECT_EQ(rig.socketOf(LINK_SOURCE), INVALID_SOCKET_HANDLE);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    std::printf("[ measured ] stop during a hanging connect: %.1f ms\n",
                std::chrono::duration<double, std::milli>(took).count());
}

// Each address of a host gets a bounded connect: one that swallows it is given
// up at the limit, so the addresses after it are still tried.
TEST(ConnectLimitTest, AHangingConnectIsGivenUpAtItsLimit) {
    FullListener full;
    ASSERT_NE(full.probe(), INVALID_FD) << "could not make a connect hang";
    Ipv4Address loopback;
    ASSERT_TRUE(parseStrictIPv4("127.0.0.1", loopback));
    UniqueFd socket = createTcpSocket();
    const auto started = Clock::now();
    EXPECT_EQ(connectAddress(socket.get(), ipAddressOf(loopback), full.port(), {}, 300ms),
              AttemptStep::Failed);
    const auto took = Clock::now() - started;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 1s);
}

// The connecting thread waits for the main thread to rewrite the status lines;
// a main thread that is shutting down lets it go instead of leaving it waiting.
TEST(ShutdownTest, StopReturnsWhileWaitingForTheMainThread) {
    LinkRig rig;
    RefusingPort refusing;
    rig.setEndpoint(LINK_SOURCE, refusing.port());
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
    RefusingPort refusing;
    rig.setEndpoint(LINK_SOURCE, refusing.port());
    rig.setEndpoint(LINK_CONSUMER, consumer.port());
    rig.startReconnecting();
    ASSERT_TRUE(rig.host.runUntil([&] { return ops.sends.load() >= 2; }, 5s));

    const auto took = shutDown(rig);

    EXPECT_LT(took, 1s);
    EXPECT_LT(ops.sends.load(), 16) << "the first handshake line alone takes 16 attempts";
    EXPECT_NE(rig.state(LINK_CONSUMER), LINK_UP);
    EXPECT_EQ(rig.socketOf(LINK_CONSUMER), INVALID_SOCKET_HANDLE);
}

// A relay with both links up whose consumer reads through a small buffer, and a
// receiver that keeps sending numbered lines while the test pumps the loop.
class SlowConsumerTest : public ::testing::Test {
  protected:
    static constexpr int SMALL_BUFFER = 4096;

    void SetUp() override {
        rig.setEndpoint(LINK_SOURCE, source.port());
        rig.setEndpoint(LINK_CONSUMER, consumer.port());
        rig.host.setTicking(true);
        rig.startReconnecting();
        receiver = rig.acceptWhenUp(LINK_SOURCE, source);
        feed = rig.acceptWhenUp(LINK_CONSUMER, consumer);
        ASSERT_TRUE(receiver.connected() && feed.connected());
        // A small send buffer too, so that what the consumer does not take soon
        // waits in the relay's own queue.
        setSendBuffer(rig.socketOf(LINK_CONSUMER), SMALL_BUFFER);
    }
    void TearDown() override { rig.stopReconnecting(); }

    // Pumps for `duration`, the receiver sending 7 lines every 10 ms; the
    // consumer reads only when `reading`.
    void run(std::chrono::milliseconds duration, bool reading, Peer& into) {
        const auto until = Clock::now() + duration;
        while (Clock::now() < until) {
            std::string burst;
            // 7 lines: the log's 30-slot ring comes back to the same newest slot
            // only after 30 bursts, so every tick has a new line to show.
            for (int i = 0; i < 7; ++i) burst += lineNumbered(next_++);
            ASSERT_TRUE(receiver.send(burst));
            sent.push_back(burst);
            rig.host.pump(10ms);
            if (reading) into.readAvailable();
        }
    }
    static std::string lineNumbered(long n) {
        return "*8D4840D6202CC371C32C" + std::to_string(1000000 + n) + ";\r\n";
    }
    bool everyLineRead(Peer& peer, std::size_t bytes) {
        return rig.host.runUntil(
            [&] { return peer.readAvailable() && peer.received().size() >= bytes; }, 10s);
    }

    LinkRig rig;
    Listener source;
    Listener consumer{8, SMALL_BUFFER};
    Peer receiver;
    Peer feed;
    std::vector<std::string> sent;  // the bursts, in order

  private:
    long next_ = 0;
};

// The consumer stops reading for 3 s, then reads again: it gets every line, in
// order, and meanwhile the source is read, the tick runs (the pane's log goes on
// moving) and neither link is dropped.
TEST_F(SlowConsumerTest, AConsumerThatPausesGetsEveryLineAndTheRelayGoesOn) {
    ASSERT_NO_FATAL_FAILURE(run(500ms, true, feed));
    const int shownBefore = rig.statuses.logLinesShown;
    ASSERT_NO_FATAL_FAILURE(run(3s, false, feed));
    const std::size_t waited = rig.relay.consumerOutbox().queued();
    // 30 ticks in 3 s; a loaded machine makes some late, a main thread held up by
    // the consumer would make none.
    EXPECT_GE(rig.statuses.logLinesShown - shownBefore, 5) << "the tick stood still";
    ASSERT_NO_FATAL_FAILURE(run(1s, true, feed));

    std::string all;
    for (const std::string& burst : sent) all += burst;
    ASSERT_TRUE(everyLineRead(feed, HANDSHAKE_BYTES + all.size()));
    EXPECT_TRUE(feed.received().substr(HANDSHAKE_BYTES) == all) << "lines lost, doubled or cut";
    EXPECT_GT(waited, 0u) << "the pause never reached the relay's queue";
    EXPECT_TRUE(rig.drops.empty()) << describeDrop(rig.drops.at(0).second);
    std::printf("[ measured ] %zu bytes waited in the relay's queue after the 3 s pause\n", waited);
}

// A receiver that floods the relay with more than the consumer's queue may hold
// while the consumer pauses for 2 s is held back instead of the consumer being
// dropped: the consumer then gets every line, and the watchdog (0.5 s here) does
// not take the relay's own hold for a silent receiver. The hold begins only once
// CONSUMER_HOLD_MARK waits, and ends only once the queue is down to
// CONSUMER_RESUME_MARK.
TEST_F(SlowConsumerTest, AFloodDuringAPauseHoldsTheReceiverBackAndNoLineIsLost) {
    rig.relay.editSettings([](RelaySettings& settings) {
        settings.watchdogEnabled = 1;
        settings.noDataLimit = 5;
    });
    std::string flood;
    for (long n = 0; flood.size() < CONSUMER_OUTBOX_BOUND * 3 / 2; ++n) flood += lineNumbered(n);

    FloodSender receiving(receiver.fd(), flood);
    std::size_t most = 0;
    bool held = false;
    for (const auto until = Clock::now() + 2s; Clock::now() < until;) {
        rig.host.pump(10ms);
        most = std::max(most, rig.relay.consumerOutbox().queued());
        held = held || rig.relay.sourceHeld();
    }
    const bool everyByte = everyLineRead(feed, HANDSHAKE_BYTES + flood.size());
    receiving.stop();

    ASSERT_TRUE(everyByte) << feed.received().size() << " bytes read";
    EXPECT_TRUE(feed.received().substr(HANDSHAKE_BYTES) == flood) << "lines lost, doubled or cut";
    EXPECT_TRUE(rig.drops.empty()) << describeDrop(rig.drops.at(0).second);
    EXPECT_TRUE(held);
    EXPECT_LT(most, CONSUMER_OUTBOX_BOUND);
    EXPECT_FALSE(rig.relay.sourceHeld());
    for (const RigHost::Hold& hold : rig.host.holds) {
        if (hold.on) {
            EXPECT_GE(hold.queued, CONSUMER_HOLD_MARK) << "held back too early";
        } else {
            EXPECT_LE(hold.queued, CONSUMER_RESUME_MARK) << "let go too early";
        }
    }
    std::printf("[ measured ] at most %zu bytes waited in the relay's queue\n", most);
}

// A consumer that keeps taking a little (about 16 KB/s) while the receiver gives
// far more (about 200 KB/s) is never stalled: it is dropped before any line it
// gets has waited CONSUMER_AGE_LIMIT (counted from the receiver's send), and the
// receiver, held back meanwhile, is read again at once. The source stays up.
TEST_F(SlowConsumerTest, AConsumerThatTakesALittleGetsNoStaleLineAndIsDroppedInTime) {
    constexpr int LINES_PER_SEND = 64;  // about 2 KB every 10 ms
    std::mutex mutex;
    std::vector<Clock::time_point> sentAt;  // per line number, as the receiver sent it
    std::atomic<bool> stop{false};
    std::thread receiving([&] {
        for (long n = 0; !stop;) {
            std::string bytes;
            for (int i = 0; i < LINES_PER_SEND; ++i) bytes += lineNumbered(n + i);
            for (std::size_t done = 0; done < bytes.size() && !stop;) {
                const long took =
                    systemSocketOps().send(receiver.fd(), bytes.data() + done, bytes.size() - done);
                if (took > 0) {
                    if (done == 0) {
                        const std::lock_guard lock(mutex);
                        sentAt.resize(static_cast<std::size_t>(n + LINES_PER_SEND), Clock::now());
                    }
                    done += static_cast<std::size_t>(took);
                } else {
                    std::this_thread::sleep_for(1ms);
                }
            }
            n += LINES_PER_SEND;
            std::this_thread::sleep_for(10ms);
        }
    });

    bool heldAtTheDrop = false;  // as the drop left it, before a new connection comes
    rig.relay.setDropListener([&](int link, const LinkDrop& why) {
        rig.drops.emplace_back(link, why);
        heldAtTheDrop = rig.relay.sourceHeld();
    });
    const auto started = Clock::now();
    std::string taken;
    std::size_t parsed = HANDSHAKE_BYTES;
    Clock::duration oldest{};
    long lines = 0;
    while (rig.drops.empty() && Clock::now() - started < CONSUMER_AGE_LIMIT + 5s) {
        rig.host.pump(10ms);
        std::array<char, 160> chunk{};  // 16 KB/s
        const long n = systemSocketOps().recv(feed.fd(), chunk.data(), chunk.size());
        if (n > 0) taken.append(chunk.data(), static_cast<std::size_t>(n));
        const auto now = Clock::now();
        for (auto end = taken.find('\n', parsed); end != std::string::npos;
             parsed = end + 1, end = taken.find('\n', parsed)) {
            const long number = std::stol(taken.substr(parsed + 21, 7)) - 1000000;
            const std::lock_guard lock(mutex);
            oldest = std::max(oldest, now - sentAt.at(static_cast<std::size_t>(number)));
            ++lines;
        }
    }
    const auto droppedAfter = Clock::now() - started;
    stop = true;
    receiving.join();

    ASSERT_EQ(rig.drops.size(), 1u);
    EXPECT_EQ(rig.drops[0].first, LINK_CONSUMER);
    EXPECT_EQ(rig.drops[0].second.cause, DropCause::ConsumerBehind)
        << describeDrop(rig.drops[0].second);
    EXPECT_LT(droppedAfter, CONSUMER_AGE_LIMIT + 1s);
    EXPECT_GT(lines, 0);
    EXPECT_LT(oldest, CONSUMER_AGE_LIMIT) << "a stale line reached the consumer";
    ASSERT_FALSE(rig.host.holds.empty()) << "the receiver was never held back";
    EXPECT_FALSE(heldAtTheDrop) << "the dropped consumer still holds the receiver back";
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_UP);
    std::printf(
        "[ measured ] trickling consumer dropped after %.2f s; %ld lines taken, the "
        "oldest %.2f s after the receiver sent it\n",
        std::chrono::duration<double>(droppedAfter).count(), lines,
        std::chrono::duration<double>(oldest).count());
}

// A receiver that ends while it is held back is noticed at once: what it sent
// before its end is read, then its link is dropped (and made again).
TEST_F(SlowConsumerTest, AReceiverThatEndsWhileHeldBackIsNoticedAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "WSAPoll does not report the close of a socket watched for nothing else; "
                    "the Windows program's host (WSAAsyncSelect) is tested in test_win_ui";
#endif
    std::string flood;
    long count = 0;
    while (flood.size() < CONSUMER_HOLD_MARK + SOCKET_READ_MAX) flood += lineNumbered(count++);
    const long linesBefore = static_cast<long>(rig.relay.trafficCounts().linesReceived);
    FloodSender receiving(receiver.fd(), flood);
    const bool held = rig.host.runUntil([&] { return rig.relay.sourceHeld(); }, 3s);
    // Everything sent has reached the relay's side: the end can follow it.
    rig.host.runUntil([&] { return systemSocketOps().unsentBytes(receiver.fd()) <= 0; }, 2s);
    receiving.stop();
    ASSERT_TRUE(held);
    ASSERT_TRUE(rig.relay.sourceHeld());

    const auto ended = Clock::now();
    receiver.close();
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_SOURCE) == LINK_DOWN; }, 10s));
    const auto noticedAfter = Clock::now() - ended;

    EXPECT_LT(noticedAfter, 1s);
    ASSERT_FALSE(rig.drops.empty());
    EXPECT_EQ(rig.drops[0].first, LINK_SOURCE);
    EXPECT_EQ(rig.drops[0].second.cause, DropCause::PeerClosed);
    EXPECT_EQ(static_cast<long>(rig.relay.trafficCounts().linesReceived) - linesBefore, count)
        << "lines sent before the end were lost";
    std::printf("[ measured ] a receiver that ended while held back was noticed after %.0f ms\n",
                std::chrono::duration<double, std::milli>(noticedAfter).count());
}

// A consumer that never reads is dropped about 4.5 s after it last took a byte,
// while the source stays up; the link is made again with a fresh handshake, and
// everything sent from then on arrives whole.
TEST_F(SlowConsumerTest, AConsumerThatNeverReadsIsDroppedAndTheNextConnectionIsWhole) {
    rig.statuses.clear();
    const auto started = Clock::now();
    ASSERT_NO_FATAL_FAILURE(run(1s, false, feed));
    ASSERT_TRUE(rig.host.runUntil([&] { return rig.state(LINK_CONSUMER) == LINK_DOWN; }, 10s));
    const auto droppedAfter = Clock::now() - started;
    EXPECT_GE(droppedAfter, 4500ms);
    EXPECT_EQ(rig.statuses.of(LINK_CONSUMER).back(), "Связь разорвана");
    ASSERT_EQ(rig.drops.size(), 1u);
    EXPECT_EQ(rig.drops[0].second.cause, DropCause::ConsumerStalled);
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_UP);

    Peer again = rig.acceptWhenUp(LINK_CONSUMER, consumer);
    ASSERT_TRUE(again.connected());
    // The source bytes read while the consumer was down were not for it.
    ASSERT_TRUE(rig.host.runUntil(
        [&] { return pendingSocketEvent(rig.socketOf(LINK_SOURCE)) == FD_NONE; }, 5s));
    sent.clear();
    ASSERT_NO_FATAL_FAILURE(run(1s, true, again));
    std::string all;
    for (const std::string& burst : sent) all += burst;
    ASSERT_TRUE(everyLineRead(again, HANDSHAKE_BYTES + all.size()));
    EXPECT_EQ(again.received().substr(0, HANDSHAKE_BYTES), HANDSHAKE_TEXT);
    EXPECT_TRUE(again.received().substr(HANDSHAKE_BYTES) == all);
    EXPECT_EQ(rig.state(LINK_SOURCE), LINK_UP);
    std::printf("[ measured ] consumer that never reads dropped after %.2f s\n",
                std::chrono::duration<double>(droppedAfter).count());
}

}  // namespace
}  // namespace velgor::test
