// Faults around the real program (the console front end) driven from outside:
// a consumer that is killed and started again, a consumer that never reads,
// endpoints that cannot be reached, and two copies sharing the send lock while
// one of them has a stalled consumer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "faults/fault_support.h"
#include "program/loopback.h"
#include "program/program_runner.h"

namespace velgor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kVelgor = VELGOR_PROGRAM;
const std::string HANDSHAKE = "#Kervala\r\n#47.198200\r\n#39.628200\r\n#TEXT\r\n";

// A relay in a fresh working directory, console front end, its send lock in a
// runtime directory of the test's choosing.
RunningProgram::Options consoleIn(const TempDir& dir, const std::string& runtimeDir) {
    RunningProgram::Options options;
    options.workingDirectory = dir.path();
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    options.setEnv = {{"XDG_RUNTIME_DIR", runtimeDir}};
    return options;
}

void writeEndpoints(const TempDir& dir, const std::string& source, const std::string& consumer) {
    dir.write("initmkp1.ini", source);
    dir.write("initmkp2.ini", consumer);
}

std::string endpoint(std::uint16_t port, const std::string& host = "127.0.0.1") {
    return std::to_string(port) + "\n" + host + "\n";
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Writes numbered lines to the relay's source connection until stopped, with a
// stray '#' line after each, which the decoder drops and raw pass-through keeps.
// It never blocks: when the relay does not read, the rest of a line waits.
class LineFeeder {
  public:
    // `pending`: the rest of a line that an earlier writer could not finish.
    LineFeeder(int fd, std::chrono::milliseconds period, std::string pending = {}) : fd_(fd) {
        thread_ = std::thread([this, period, pending]() mutable {
            while (!stop_) {
                if (pending.empty()) pending = lineFor(next_++);
                const ssize_t n =
                    ::send(fd_, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) pending.erase(0, static_cast<std::size_t>(n));
                std::this_thread::sleep_for(period);
            }
        });
    }
    ~LineFeeder() { stop(); }
    // Ends the writing (before the connection is closed).
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    LineFeeder(const LineFeeder&) = delete;
    LineFeeder& operator=(const LineFeeder&) = delete;

    static std::string lineFor(long n) {
        return "*8D4840D6202CC371C3" + std::to_string(1'000'000'000L + n) + ";\r\n#stray\r\n";
    }
    // The number of the next line to be written.
    long next() const { return next_.load(); }

  private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<long> next_{0};
    std::thread thread_;
};

// Writes the lines of a burst, waiting for room when the connection is full,
// but never longer than `limit` in all. Returns the rest of a line it could not
// finish (a LineFeeder takes it over, so that the stream stays whole).
std::string offerBurst(int fd, int lines, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    std::string pending;
    int written = 0;
    while (Clock::now() < until && (written < lines || !pending.empty())) {
        if (pending.empty()) pending = LineFeeder::lineFor(-1 - written++);
        const ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            pending.erase(0, static_cast<std::size_t>(n));
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    return pending;
}

// Reads what has arrived on a socket, without waiting.
void readNow(int fd, std::string& into) {
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        into.append(buffer, static_cast<std::size_t>(n));
    }
}

// Reads a socket until the far end closes it; whether it did within `limit`.
bool readUntilClosed(int fd, std::chrono::seconds limit) {
    char buffer[65536];
    for (auto until = Clock::now() + limit; Clock::now() < until;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0) std::this_thread::sleep_for(10ms);
    }
    return false;
}

class ProgramFaultTest : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir runtime;
    LoopbackListener source;
};

// The consumer is killed (its connection reset) and a new one takes its place:
// the first bytes of the new connection are exactly the handshake, and the raw
// pass-through the first consumer switched on is still on.
TEST_F(ProgramFaultTest, KilledConsumerIsFollowedByAHandshakeAndRawModeStays) {
    LoopbackListener consumer;
    writeEndpoints(dir, endpoint(source.port()), endpoint(consumer.port()));
    RunningProgram velgor(kVelgor, {}, consoleIn(dir, runtime.path()));
    const int receiver = source.accept(10s);
    ASSERT_GE(receiver, 0) << velgor.err();
    int feed = consumer.accept(10s);
    ASSERT_GE(feed, 0);
    LineFeeder feeder(receiver, 5ms);

    std::string received;
    ASSERT_TRUE(readUntil(feed, ";\r\n", received, 5s));
    ASSERT_EQ(received.rfind(HANDSHAKE, 0), 0u) << received;
    EXPECT_EQ(received.find("#stray"), std::string::npos) << "decoded lines only so far";
    ASSERT_TRUE(sendAll(feed, "#SET OUT DATE ORIGINAL\r\n"));
    ASSERT_TRUE(readUntil(feed, "#stray\r\n", received, 5s)) << "raw pass-through came on";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        resetAndClose(feed);
        feed = consumer.accept(10s);
        ASSERT_GE(feed, 0) << "the relay connected again";
        std::string again;
        ASSERT_TRUE(readUntil(feed, "#stray\r\n", again, 5s)) << again;
        EXPECT_EQ(again.rfind(HANDSHAKE, 0), 0u) << "the handshake comes first: " << again;
        const std::string data = again.substr(HANDSHAKE.size());
        // Raw bytes: whole or partial copies of what the feeder wrote, strays
        // included; never a handshake line in the middle.
        EXPECT_EQ(countOf(data, "#Kervala"), 0u);
        EXPECT_EQ(velgor.out().find("Error"), std::string::npos);
    }
    feeder.stop();
    ::close(feed);
    ::close(receiver);
}

// A consumer that takes the connection and never reads. The relay goes on reading
// its source and showing lines; about 4.5 s after the consumer last took a byte it
// drops that connection (the consumer still holds its end), connects again with a
// handshake, and is back in step with the source: the feeder's newest lines arrive.
TEST_F(ProgramFaultTest, ConsumerThatNeverReadsIsDroppedAndTheRelayCatchesUp) {
    constexpr int SMALL_BUFFER = 4096;
    LoopbackListener consumer;
    ::setsockopt(consumer.fd(), SOL_SOCKET, SO_RCVBUF, &SMALL_BUFFER, sizeof SMALL_BUFFER);
    writeEndpoints(dir, endpoint(source.port()), endpoint(consumer.port()));
    RunningProgram velgor(kVelgor, {}, consoleIn(dir, runtime.path()));
    const int receiver = source.accept(10s);
    ASSERT_GE(receiver, 0) << velgor.err();
    const int stalled = consumer.accept(10s);
    ASSERT_GE(stalled, 0);
    const auto stalledAt = Clock::now();
    LineFeeder feeder(receiver, 2ms);

    std::this_thread::sleep_for(1s);
    const std::size_t shownAtFirst = countOf(velgor.out(), "*8D4840D6");
    std::this_thread::sleep_for(2s);
    EXPECT_GT(countOf(velgor.out(), "*8D4840D6"), shownAtFirst + 10) << "the console stood still";

    const int feed = consumer.accept(15s);
    ASSERT_GE(feed, 0) << "the relay did not connect again";
    const auto reconnectedAfter = Clock::now() - stalledAt;
    EXPECT_GE(reconnectedAfter, 4500ms);
    EXPECT_TRUE(readUntilClosed(stalled, 5s)) << "the stalled connection was kept";
    std::string received;
    ASSERT_TRUE(readUntil(feed, "\r\n#TEXT\r\n", received, 5s));
    EXPECT_EQ(received.rfind(HANDSHAKE, 0), 0u) << received;

    const long target = feeder.next() + 5;
    const std::string wanted = LineFeeder::lineFor(target).substr(0, 30);
    EXPECT_TRUE(readUntil(feed, wanted, received, 20s)) << "line " << target << " never came";
    feeder.stop();
    for (int fd : {feed, receiver, stalled}) ::close(fd);
    std::printf("[ measured ] consumer that never reads: connected anew %.1f s after it came\n",
                std::chrono::duration<double>(reconnectedAfter).count());
}

// A source host that no resolver knows and a consumer port where nothing
// listens: each status line tells its error, again and again, and the program
// keeps trying both.
TEST_F(ProgramFaultTest, UnknownHostAndRefusedPortAreRetriedWithTheirStatusTexts) {
    std::optional<LoopbackListener> consumer(std::in_place);
    const std::uint16_t port = consumer->port();
    consumer.reset();  // nothing listens there now
    writeEndpoints(dir, endpoint(source.port(), "no-such-host.invalid"), endpoint(port));
    RunningProgram velgor(kVelgor, {}, consoleIn(dir, runtime.path()));
    ASSERT_TRUE(velgor.waitForOutput("Ошибка no-such-host.invalid", 5s)) << velgor.out();
    std::this_thread::sleep_for(3500ms);
    const std::string out = velgor.out();
    EXPECT_GE(countOf(out, "Ошибка no-such-host.invalid"), 2u) << out;
    EXPECT_GE(countOf(out, "Ошибка connect"), 2u) << out;
    EXPECT_EQ(countOf(out, "Соединение"), 0u);

    velgor.signal(SIGTERM);
    const auto code = velgor.wait(5s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
}

// Two copies share the send lock. Copy A's consumer never reads, yet A holds the
// lock only around sends that do not wait, so copy B's lines reach its consumer at
// its feeder's pace all the while.
TEST_F(ProgramFaultTest, ACopyWithAStalledConsumerDoesNotHoldBackAnother) {
    constexpr int SMALL_BUFFER = 4096;
    TempDir dirB;
    LoopbackListener sourceB, consumerA, consumerB;
    ::setsockopt(consumerA.fd(), SOL_SOCKET, SO_RCVBUF, &SMALL_BUFFER, sizeof SMALL_BUFFER);
    writeEndpoints(dir, endpoint(source.port()), endpoint(consumerA.port()));
    writeEndpoints(dirB, endpoint(sourceB.port()), endpoint(consumerB.port()));

    RunningProgram copyA(kVelgor, {}, consoleIn(dir, runtime.path()));
    RunningProgram copyB(kVelgor, {}, consoleIn(dirB, runtime.path()));
    const int receiverA = source.accept(10s);
    const int receiverB = sourceB.accept(10s);
    const int stalled = consumerA.accept(10s);
    const int feedB = consumerB.accept(10s);
    ASSERT_TRUE(receiverA >= 0 && receiverB >= 0 && stalled >= 0 && feedB >= 0)
        << copyA.err() << copyB.err();
    std::string receivedB;
    ASSERT_TRUE(readUntil(feedB, "#TEXT\r\n", receivedB, 5s));

    // A's consumer is full after the first burst.
    LineFeeder feederA(receiverA, 2ms, offerBurst(receiverA, 20'000, 2s));
    LineFeeder feederB(receiverB, 50ms);
    std::this_thread::sleep_for(500ms);
    readNow(feedB, receivedB);
    const std::size_t before = countOf(receivedB, ";\r\n");
    std::this_thread::sleep_for(3s);
    readNow(feedB, receivedB);
    const std::size_t flowed = countOf(receivedB, ";\r\n") - before;
    EXPECT_GE(flowed, 30u) << "B was held back while A's consumer was stalled";

    copyA.signal(SIGTERM);
    copyB.signal(SIGTERM);
    EXPECT_EQ(copyA.wait(10s), std::optional<int>(0));
    EXPECT_EQ(copyB.wait(10s), std::optional<int>(0));
    feederA.stop();
    feederB.stop();
    for (int fd : {receiverA, receiverB, stalled, feedB}) ::close(fd);
    std::printf("[ measured ] lines to B in 3 s while A's consumer was stalled: %zu\n", flowed);
}

}  // namespace
}  // namespace velgor::test
