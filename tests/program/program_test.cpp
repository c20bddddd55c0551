// The velgor program as an operator runs it: start-up failures of the compression
// library, the console front end against scripted peers on loopback, the end by
// SIGINT/SIGTERM, shutdown while a connection attempt hangs, and the program as a
// systemd service: what it tells the service manager, what it writes to the journal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "config/cp1251_literal.h"
#include "program/loopback.h"
#include "program/program_runner.h"

namespace velgor::test {
namespace {

using namespace std::chrono_literals;

const std::string kVelgor = VELGOR_PROGRAM;

RunningProgram::Options consoleIn(const TempDir& dir) {
    RunningProgram::Options options;
    options.workingDirectory = dir.path();
    // Nor a service manager or a journal of the test's own runner.
    options.unsetEnv = {"DISPLAY",        "WAYLAND_DISPLAY",       "QT_QPA_PLATFORM",
                        "NOTIFY_SOCKET",  "WATCHDOG_USEC",         "WATCHDOG_PID",
                        "JOURNAL_STREAM", "VELGOR_SUMMARY_SECONDS"};
    return options;
}

std::set<std::string> filesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// ---- the compression library ----------------------------------------------

struct LibraryCase {
    const char* fakeDir;
    int exitCode;  // as a POSIX parent sees it: the low 8 bits
};

class CompressionLibraryTest : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(CompressionLibraryTest, IncompleteLibraryEndsWithItsCodeAndNoMessage) {
    TempDir dir;
    dir.write("name.ini", "Station\n");
    auto options = consoleIn(dir);
    options.setEnv["LD_LIBRARY_PATH"] = GetParam().fakeDir;
    RunningProgram velgor(kVelgor, {}, options);
    const auto code = velgor.wait(10s);
    ASSERT_TRUE(code.has_value()) << "the program did not end";
    EXPECT_EQ(*code, GetParam().exitCode);
    EXPECT_EQ(velgor.out(), "");
    EXPECT_EQ(velgor.err(), "");
    // It ended before touching the settings directory.
    EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"name.ini"});
}

INSTANTIATE_TEST_SUITE_P(FakeLibraries, CompressionLibraryTest,
                         ::testing::Values(LibraryCase{FAKE_ZLIB_EMPTY_DIR, 417 & 0xFF},
                                           LibraryCase{FAKE_ZLIB_COMPRESS_ONLY_DIR, 418 & 0xFF}));

TEST(CompressionLibrary, MissingLibraryIsReportedAndEndsWithFailure) {
    // Hide the system's library in a private mount namespace of the program.
    const char* libz = "/lib/x86_64-linux-gnu/libz.so.1";
    if (geteuid() != 0 || !std::filesystem::exists(libz) ||
        std::system("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs root and unshare to hide " << libz;
    }
    TempDir dir;
    auto options = consoleIn(dir);
    options.wrapper = {"unshare",
                       "-m",
                       "--propagation",
                       "private",
                       "sh",
                       "-c",
                       std::string("mount --bind /dev/null ") + libz + " && exec \"$0\""};
    RunningProgram velgor(kVelgor, {}, options);
    const auto code = velgor.wait(10s);
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(*code, 0) << "a failed start must not look like success";
    EXPECT_NE(velgor.err().find("Не удалось подключить libz.so.1"), std::string::npos)
        << velgor.err();
    EXPECT_NE(velgor.err().find("Ошибка"), std::string::npos);
    EXPECT_TRUE(filesIn(dir.path()).empty()) << "no file may be touched before the library";
}

// ---- the console front end ---------------------------------------------------

// Sockets of the process that are listening (state 0A in /proc/net/tcp).
int listeningSocketsOf(pid_t pid) {
    std::set<std::string> inodes;
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fdDir)) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
    int listening = 0;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >>
                timeout >> inode;
            if (state == "0A" && inodes.count(inode) != 0) ++listening;
        }
    }
    return listening;
}

class ConsoleRelay : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("initmkp1.ini", std::to_string(source.port()) + "\n127.0.0.1\n");
        dir.write("initmkp2.ini", std::to_string(consumer.port()) + "\n127.0.0.1\n");
        dir.write("name.ini", cp1251<u8"Прибор\n">);
    }

    TempDir dir;
    LoopbackListener source;
    LoopbackListener consumer;
};

TEST_F(ConsoleRelay, RelaysLinesShowsStatusAndEndsOnSignal) {
    for (int quitSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(quitSignal == SIGTERM ? "SIGTERM" : "SIGINT");
        // Arguments are not used: the program runs as without them.
        RunningProgram velgor(kVelgor, {"--no-such-option", "x"}, consoleIn(dir));

        const int sourceConn = source.accept(10s);
        ASSERT_GE(sourceConn, 0) << velgor.err();
        const int consumerConn = consumer.accept(10s);
        ASSERT_GE(consumerConn, 0) << velgor.out() << velgor.err();
        std::string received;
        ASSERT_TRUE(readUntil(consumerConn, "#TEXT\r\n", received, 5s)) << received;
        EXPECT_EQ(received, cp1251<u8"#Прибор\r\n#47.198200\r\n#39.628200\r\n#TEXT\r\n">);
        ASSERT_TRUE(
            velgor.waitForOutput("Клиент: " + std::string(consumer.port() > 9999 ? " " : "  ") +
                                     std::to_string(consumer.port()) + "  Соединение 127.0.0.1",
                                 5s))
            << velgor.out();

        const std::string line = "*8D4840D6202CC371C32CE0576098;";
        ASSERT_TRUE(sendAll(sourceConn, "#ignored\r\n" + line + "\r\n"));
        received.clear();
        ASSERT_TRUE(readUntil(consumerConn, "\r\n", received, 5s));
        EXPECT_EQ(received, line + "\r\n");
        EXPECT_TRUE(velgor.waitForOutput(line + "\n", 3s)) << velgor.out();
        EXPECT_EQ(listeningSocketsOf(velgor.pid()), 0) << "the relay is a client only";

        velgor.signal(quitSignal);
        const auto code = velgor.wait(5s);
        ASSERT_TRUE(code.has_value()) << "the program did not end on the signal";
        EXPECT_EQ(*code, 0);
        ::close(sourceConn);
        ::close(consumerConn);
    }
}

// A DISPLAY left over from a closed session: the program says so in one line
// and runs on the console instead of letting Qt end it.
TEST_F(ConsoleRelay, SilentDisplayRunsTheConsoleAndSaysWhy) {
    SilentXDisplay display;
    auto options = consoleIn(dir);
    options.setEnv["DISPLAY"] = display.name();
    RunningProgram velgor(kVelgor, {}, options);
    const int consumerConn = consumer.accept(10s);
    ASSERT_GE(consumerConn, 0) << velgor.err();
    ::close(consumerConn);
    ASSERT_TRUE(velgor.waitForOutput("Клиент:", 5s)) << velgor.out() << velgor.err();
    velgor.signal(SIGTERM);
    EXPECT_EQ(velgor.wait(5s), 0);
    const std::string expected = "velgor: display " + display.name() +
                                 " does not answer; running on the console\n"
                                 "velgor: relay running (console); Ctrl-C ends it\n";
    EXPECT_EQ(velgor.err().substr(0, expected.size()), expected) << "one line says why";
}

TEST_F(ConsoleRelay, EndsPromptlyWhileAConnectHangs) {
    LoopbackListener full(0);
    full.fillBacklog();
    dir.write("initmkp1.ini", std::to_string(full.port()) + "\n127.0.0.1\n");
    RunningProgram velgor(kVelgor, {}, consoleIn(dir));
    ASSERT_TRUE(velgor.waitForOutput("Идет установление связи", 5s)) << velgor.out();
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(velgor.out().find("Ошибка connect"), std::string::npos)
        << "the connect was meant to hang:\n"
        << velgor.out();

    const auto before = std::chrono::steady_clock::now();
    velgor.signal(SIGTERM);
    const auto code = velgor.wait(10s);
    const auto took = std::chrono::steady_clock::now() - before;
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    // The system's own connect time-out is minutes; the program must not wait for it.
    EXPECT_LT(took, 3s) << "took "
                        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                        << " ms";
    RecordProperty(
        "shutdown_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

// ---- as a service -----------------------------------------------------------

// What systemd hears on its notify socket: READY once the relay runs, the links'
// status texts as they change, the watchdog fed from the main loop (half the
// 2 s time-out, so at least twice in 2.5 s), STOPPING at the end.
TEST_F(ConsoleRelay, TellsTheServiceManagerReadyStatusWatchdogAndStopping) {
    TempDir managerDir;
    DatagramListener manager(managerDir.path() + "/notify");
    auto options = consoleIn(dir);
    options.setEnv["NOTIFY_SOCKET"] = manager.address();
    options.setEnv["WATCHDOG_USEC"] = "2000000";
    RunningProgram velgor(kVelgor, {}, options);
    const int sourceConn = source.accept(10s);
    const int consumerConn = consumer.accept(10s);
    ASSERT_GE(consumerConn, 0) << velgor.err();

    // Every message as it came, until the watchdog has been fed twice with both links up.
    std::vector<std::string> told;
    const std::string bothUp =
        "STATUS=source: Соединение 127.0.0.1; consumer: Соединение 127.0.0.1";
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (std::count(told.begin(), told.end(), "WATCHDOG=1") < 2 ||
           std::find(told.begin(), told.end(), bothUp) == told.end()) {
        ASSERT_LT(std::chrono::steady_clock::now(), until) << ::testing::PrintToString(told);
        if (auto message = manager.next(500ms)) told.push_back(*message);
    }
    EXPECT_EQ(std::count(told.begin(), told.end(), "READY=1"), 1);
    EXPECT_LT(std::find(told.begin(), told.end(), "READY=1"),
              std::find(told.begin(), told.end(), "WATCHDOG=1"));
    std::vector<std::string> statuses;
    for (const std::string& message : told) {
        if (message == "READY=1" || message == "WATCHDOG=1") continue;
        EXPECT_EQ(message.rfind("STATUS=source: ", 0), 0u) << message;
        statuses.push_back(message);
    }
    EXPECT_EQ(std::adjacent_find(statuses.begin(), statuses.end()), statuses.end())
        << "a status is sent only when it changes";

    velgor.signal(SIGTERM);
    std::optional<std::string> last;
    while (auto message = manager.next(2s)) last = message;
    EXPECT_EQ(last, "STOPPING=1");
    EXPECT_EQ(velgor.wait(5s), 0);
    ::close(sourceConn);
    ::close(consumerConn);
}

// A binary record of type '2' with a timestamp of its own, escaped as the
// receiver sends it (every 0x1A doubled), and the line the relay makes of it.
std::string escapedRecord(std::uint32_t stamp, unsigned char level, std::string& line) {
    std::string body("\0\0", 2);
    for (int shift : {24, 16, 8, 0}) body.push_back(static_cast<char>(stamp >> shift));
    body += static_cast<char>(level);
    body += "\x5d\x48\x40\xd6\x20\x2c\xc3";
    std::string record = "\x1a\x32";  // 0x1A, type '2'
    for (char b : body) record.append(b == '\x1a' ? 2 : 1, b);
    char text[40];
    std::snprintf(text, sizeof text, "@0000%08X5D4840D6202CC3;\r\n", stamp);
    line = text;
    return record;
}

// The figures of the summaries in a journal, added up: lines received,
// forwarded, held back, bytes sent, source connected and lost, consumer
// connected and lost. Every other line must be a status line.
struct Journal {
    int lines = 0;
    int summaries = 0;
    std::array<unsigned long long, 8> sums{};
};

Journal journalOf(const std::string& out) {
    Journal journal;
    std::istringstream lines(out);
    for (std::string text; std::getline(lines, text); ++journal.lines) {
        std::array<unsigned long long, 8> f{};
        long long seconds = 0;
        const std::size_t start = text.find("summary of the last ");
        if (start == std::string::npos ||
            std::sscanf(text.c_str() + start,
                        "summary of the last %lld s: %llu lines received, %llu forwarded, %llu "
                        "held back by the signal threshold, %llu bytes sent; source: %llu "
                        "connected, %llu lost; consumer: %llu connected, %llu lost",
                        &seconds, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7]) != 9) {
            EXPECT_EQ(text.rfind("Клиент:", 0), 0u) << "not a status line: " << text;
            continue;
        }
        ++journal.summaries;
        for (std::size_t k = 0; k < f.size(); ++k) journal.sums[k] += f[k];
    }
    return journal;
}

// With its stdout on the journal the relay writes the status changes and a
// summary a second (the interval set for the test), not the 20,000 lines it
// relays; the summaries add up to what happened, and one more comes at the end.
TEST_F(ConsoleRelay, JournalGetsStatusChangesAndSummariesNotTheTraffic) {
    dir.write("BinarComOn.ini", "1\n0\n0\n60\n");
    dir.write("porog.ini", "50\n");
    auto options = consoleIn(dir);
    options.stdoutIsJournal = true;
    options.setEnv["VELGOR_SUMMARY_SECONDS"] = "1";
    RunningProgram velgor(kVelgor, {}, options);
    const int sourceConn = source.accept(10s);
    const int consumerConn = consumer.accept(10s);
    ASSERT_GE(consumerConn, 0) << velgor.err();
    std::string received;
    ASSERT_TRUE(readUntil(consumerConn, "#BINARY\r\n", received, 5s)) << received;
    const std::size_t handshake = received.size();

    // Every other record is below the threshold; the last one passes.
    constexpr unsigned long long RECORDS = 20000;
    std::string stream;
    std::string lastLine;
    for (std::uint32_t i = 0; i < RECORDS; ++i) {
        stream += escapedRecord(0x1A1A0000u + i, i % 2 == 1 ? 0x40 : 0x20, lastLine);
    }
    ASSERT_TRUE(sendAll(sourceConn, stream));
    ASSERT_TRUE(readUntil(consumerConn, lastLine, received, 20s));
    const unsigned long long sent = received.size() - handshake;
    EXPECT_EQ(sent, RECORDS / 2 * lastLine.size());

    // The periodic summaries account for all of it within a couple of seconds.
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (journalOf(velgor.out()).sums[0] < RECORDS && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(
        journalOf(velgor.out()).sums,
        (std::array<unsigned long long, 8>{RECORDS, RECORDS / 2, RECORDS / 2, sent, 1, 0, 1, 0}))
        << velgor.out();

    ::close(consumerConn);
    ASSERT_TRUE(velgor.waitForOutput("Связь разорвана", 5s)) << velgor.out();
    velgor.signal(SIGTERM);
    ASSERT_EQ(velgor.wait(5s), 0);
    const Journal journal = journalOf(velgor.out());
    EXPECT_NE(velgor.out().find("at exit: summary of the last"), std::string::npos);
    EXPECT_EQ(journal.sums[0], RECORDS);
    EXPECT_EQ(journal.sums[7], 1u) << "the consumer's loss: " << velgor.out();
    // Each link's status line as it starts, connects, is connected, and drops
    // (the consumer perhaps reconnecting once more).
    EXPECT_LE(journal.lines - journal.summaries, 9) << velgor.out();
    std::printf("journal: %d lines (%d summaries) for %llu records relayed\n", journal.lines,
                journal.summaries, RECORDS);
    ::close(sourceConn);
}

// A receiver that refuses every attempt (one each 1.5 s): the journal has its
// failure once, and no attempt in progress.
TEST_F(ConsoleRelay, JournalHasARepeatedFailureOnce) {
    std::optional<LoopbackListener> refusing(std::in_place);
    dir.write("initmkp1.ini", std::to_string(refusing->port()) + "\n127.0.0.1\n");
    refusing.reset();  // nothing listens there now
    auto options = consoleIn(dir);
    options.stdoutIsJournal = true;
    RunningProgram velgor(kVelgor, {}, options);
    ASSERT_TRUE(velgor.waitForOutput("Ошибка connect", 5s)) << velgor.out();
    std::this_thread::sleep_for(3500ms);
    velgor.signal(SIGTERM);
    ASSERT_EQ(velgor.wait(5s), 0);
    const std::string out = velgor.out();
    EXPECT_EQ(out.find("Ошибка connect"), out.rfind("Ошибка connect")) << out;
    EXPECT_EQ(out.find("Идет установление связи"), std::string::npos) << out;
}

}  // namespace
}  // namespace velgor::test
