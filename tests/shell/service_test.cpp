// What the program tells its service manager, how it knows its output goes to the
// journal, and the journal's periodic traffic summary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "links/link_table.h"
#include "program/loopback.h"
#include "program/program_runner.h"
#include "shell/platform/journal_stream.h"
#include "shell/platform/service_notifier.h"
#include "shell/startup/service_status.h"
#include "shell/startup/traffic_summary.h"

namespace velgor::test {
namespace {

using namespace std::chrono_literals;

TEST(ServiceNotifier, TellsASocketFileOrAnAbstractNameEachMessageOnce) {
    TempDir dir;
    const std::string abstractName = "@velgor-test-notify-" + std::to_string(::getpid());
    for (const std::string& address : {dir.path() + "/notify", abstractName}) {
        SCOPED_TRACE(address);
        DatagramListener manager(address);
        ServiceNotifier notifier(manager.address());
        ASSERT_TRUE(notifier.active()) << notifier.problem();
        notifier.ready();
        notifier.status("source: a\nb");
        notifier.status("source: a\nb");
        notifier.status("source: c");
        EXPECT_EQ(manager.next(1s), "READY=1");
        EXPECT_EQ(manager.next(1s), "STATUS=source: a b") << "one line";
        EXPECT_EQ(manager.next(1s), "STATUS=source: c") << "an unchanged status is not sent again";
    }
}

TEST(ServiceNotifier, UnusableAddressesTellNobodyAndSayWhy) {
    const ServiceNotifier none;
    EXPECT_FALSE(none.active());
    EXPECT_TRUE(none.problem().empty());
    for (const std::string& address : {std::string("relative/notify"), std::string("vsock:2:1234"),
                                       "/" + std::string(200, 'x')}) {
        SCOPED_TRACE(address);
        ServiceNotifier notifier(address);
        EXPECT_FALSE(notifier.active());
        EXPECT_FALSE(notifier.problem().empty());
        EXPECT_FALSE(notifier.send("READY=1"));
    }
    // A socket file with nobody behind it: the message is lost, the caller goes on.
    TempDir dir;
    ServiceNotifier gone(dir.path() + "/nobody");
    EXPECT_TRUE(gone.active());
    EXPECT_FALSE(gone.send("READY=1"));
}

// The environment systemd sets: the watchdog time-out counts only for this
// process, and only when it is a number.
TEST(ServiceNotifier, WatchdogFromTheEnvironment) {
    struct Case {
        const char* usec;
        const char* pid;  // "self": this process
        std::chrono::milliseconds period;
    };
    const Case cases[] = {
        {"30000000", nullptr, 1000ms}, {"30000000", "self", 1000ms},
        {"600000", nullptr, 300ms},    {"30000000", "1", 0ms},
        {"30s", nullptr, 0ms},         {"-5", nullptr, 0ms},
        {nullptr, nullptr, 0ms},       {"99999999999999999999999", nullptr, 0ms},
    };
    const std::string self = std::to_string(::getpid());
    ::setenv("NOTIFY_SOCKET", "@velgor-test-unused", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.usec ? c.usec : "unset") + " pid " + (c.pid ? c.pid : "unset"));
        c.usec ? ::setenv("WATCHDOG_USEC", c.usec, 1) : ::unsetenv("WATCHDOG_USEC");
        const std::string pid = c.pid && std::string(c.pid) == "self" ? self : c.pid ? c.pid : "";
        c.pid ? ::setenv("WATCHDOG_PID", pid.c_str(), 1) : ::unsetenv("WATCHDOG_PID");
        ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
        LinkTable links;
        EXPECT_EQ(ServiceStatus(links, notifier).watchdogPeriod(), c.period);
    }
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(ServiceNotifier::fromEnvironment().active()) << "no NOTIFY_SOCKET, no socket";
}

TEST(JournalStream, OnlyTheStreamNamedIsTheJournal) {
    TempDir dir;
    const int file = ::open((dir.path() + "/out").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    const int other = ::open((dir.path() + "/other").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    struct stat status {};
    ASSERT_EQ(::fstat(file, &status), 0);
    const std::string named = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    EXPECT_TRUE(isJournalStream(file, named.c_str()));
    EXPECT_FALSE(isJournalStream(other, named.c_str()));
    EXPECT_FALSE(isJournalStream(-1, named.c_str()));
    // The same inode number on another device is another file.
    const std::string otherDevice =
        std::to_string(status.st_dev + 1) + ":" + std::to_string(status.st_ino);
    for (const std::string& bad :
         {std::string(), std::to_string(status.st_dev), named + "x",
          ":" + std::to_string(status.st_ino), " " + named, named + ":", otherDevice}) {
        EXPECT_FALSE(isJournalStream(file, bad.c_str())) << bad;
    }
    EXPECT_FALSE(isJournalStream(file, nullptr));
    ::close(file);
    ::close(other);
}

TEST(TrafficSummary, EachSummaryCountsWhatHappenedSinceTheLast) {
    const auto start = PeriodicSummary::Clock::time_point{} + 1h;
    PeriodicSummary summary(60s, start);
    TrafficCounts counts;
    counts.linesReceived = 120;
    counts.linesHeldBack = 20;
    counts.linesForwarded = 100;
    counts.bytesSent = 3000;
    counts.connectionsMade = {0, 1, 2};
    counts.connectionsLost = {0, 0, 1};
    EXPECT_EQ(summary.due(counts, start + 59s), std::nullopt);
    EXPECT_EQ(summary.due(counts, start + 61s),
              "summary of the last 60 s: 120 lines received, 100 forwarded, 20 held back by the "
              "signal threshold, 3000 bytes sent; source: 1 connected, 0 lost; consumer: 2 "
              "connected, 1 lost");
    counts.linesReceived += 5;
    counts.linesForwarded += 5;
    counts.bytesSent += 100;
    counts.bytesCompressed = 420;
    counts.framedBytes = 100;
    counts.batchesDropped = 1;
    // The next one is due a minute after the last was due, not after the late tick.
    EXPECT_EQ(summary.due(counts, start + 119s), std::nullopt);
    EXPECT_EQ(summary.due(counts, start + 120s),
              "summary of the last 60 s: 5 lines received, 5 forwarded, 0 held back by the "
              "signal threshold, 100 bytes sent (compressed 4.20:1), 1 batches dropped at a mode "
              "switch; source: 0 connected, 0 lost; consumer: 0 connected, 0 lost");
    EXPECT_EQ(summary.last(counts, start + 133s),
              "at exit: summary of the last 13 s: 0 lines received, 0 forwarded, 0 held back by "
              "the signal threshold, 0 bytes sent; source: 0 connected, 0 lost; consumer: 0 "
              "connected, 0 lost");
}

TEST(TrafficSummary, IntervalFromTheEnvironmentOrTheMinute) {
    EXPECT_EQ(summaryInterval("5"), 5s);
    EXPECT_EQ(summaryInterval("86400"), 86400s);
    for (const char* bad : {static_cast<const char*>(nullptr), "", "0", "-3", "5s", " 5", "86401",
                            "99999999999999999999999"}) {
        EXPECT_EQ(summaryInterval(bad), 60s) << (bad ? bad : "unset");
    }
}

}  // namespace
}  // namespace velgor::test
