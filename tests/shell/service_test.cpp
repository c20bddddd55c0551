// What the program tells its service manager.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "config/cp1251_literal.h"
#include "links/link_table.h"
#include "program/loopback.h"
#include "program/program_runner.h"
#include "shell/platform/service_notifier.h"
#include "shell/startup/service_status.h"

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
        EXPECT_EQ(manager.next(1s), "READY=1");
        notifier.status("source: a\nb");
        EXPECT_EQ(manager.next(1s), "STATUS=source: a b") << "one line";
        notifier.status("source: a\nb");
        notifier.watchdog();
        EXPECT_EQ(manager.next(1s), "WATCHDOG=1") << "an unchanged status is not sent again";
        notifier.status("source: c");
        EXPECT_EQ(manager.next(1s), "STATUS=source: c");
        notifier.stopping();
        EXPECT_EQ(manager.next(1s), "STOPPING=1");
    }
}

TEST(ServiceNotifier, UnusableAddressesTellNobodyAndSayWhy) {
    const ServiceNotifier none;
    EXPECT_FALSE(none.active());
    EXPECT_TRUE(none.problem().empty());
    for (const std::string& address :
         {std::string("relative/notify"), std::string("vsock:2:1234"), "/" + std::string(200, 'x')}) {
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
        {"30000000", nullptr, 1000ms}, {"30000000", "self", 1000ms}, {"600000", nullptr, 300ms},
        {"30000000", "1", 0ms},        {"30s", nullptr, 0ms},        {"-5", nullptr, 0ms},
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

// READY with the links' status, then STATUS only when a link's text changes.
TEST(ServiceStatus, ReportsTheLinksStatusInUtf8WhenItChanges) {
    TempDir dir;
    DatagramListener manager(dir.path() + "/notify");
    ServiceNotifier notifier(manager.address());
    LinkTable links;
    ServiceStatus service(links, notifier);
    links.setStatusText(LINK_SOURCE, cp1251<u8"Соединение 127.0.0.1">);
    service.started();
    EXPECT_EQ(manager.next(1s), "STATUS=source: Соединение 127.0.0.1; consumer: -");
    EXPECT_EQ(manager.next(1s), "READY=1");
    service.tick();
    links.setStatusText(LINK_CONSUMER, cp1251<u8"Идет установление связи">);
    service.tick();
    service.tick();
    EXPECT_EQ(manager.next(1s),
              "STATUS=source: Соединение 127.0.0.1; consumer: Идет установление связи");
    EXPECT_EQ(manager.next(50ms), std::nullopt) << "no watchdog asked for, no change";
}

}  // namespace
}  // namespace velgor::test
