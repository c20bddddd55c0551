// Whether a named display answers, and the front end chosen from that: a stale
// DISPLAY (a closed SSH session, sudo) must give the console, never a window
// that Qt cannot open.
#include "shell/startup/front_end_choice.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "program/loopback.h"
#include "program/program_runner.h"
#include "shell/startup/display_check.h"

namespace velgor::test {
namespace {

// A listening socket file at path, as a display server keeps one.
int listenAt(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ADD_FAILURE() << "cannot listen at " << path;
    }
    return fd;
}

// Each display is asked in its own socket directory, so no real server interferes.
class DisplayCheck : public ::testing::Test {
  protected:
    bool x(const std::string& display) const { return xDisplayAnswers(display, dir.path()); }
    TempDir dir;
};

TEST_F(DisplayCheck, XDisplayAnswersOnlyWhereAServerListens) {
    SilentXDisplay silent(dir.path());
    const std::string n = std::to_string(silent.number());
    const std::string file = dir.path() + "/X" + n;
    ::close(listenAt(file));  // a socket file left behind by a server that is gone
    for (const std::string& display :
         {":" + n, "unix:" + n + ".0", "localhost:" + n, std::string(), std::string(":x")}) {
        EXPECT_FALSE(x(display)) << display;
    }
    EXPECT_TRUE(x("remote.example:10.0")) << "another host is not checked";

    std::filesystem::remove(file);
    const int server = listenAt(file);
    EXPECT_TRUE(x(":" + n + ".1"));
    EXPECT_FALSE(x("127.0.0.1:" + n)) << "a socket file is not the TCP port";
    ::close(server);
    ASSERT_EQ(::listen(silent.abstractSocket(), 4), 0);
    EXPECT_TRUE(x("unix:" + n));
    ASSERT_EQ(::listen(silent.tcpSocket(), 4), 0);
    EXPECT_TRUE(x("localhost:" + n + ".0"));
}

TEST_F(DisplayCheck, WaylandDisplayAnswersAtItsSocket) {
    const std::string socket = dir.path() + "/wayland-test";
    const int server = listenAt(socket);
    EXPECT_TRUE(waylandDisplayAnswers("wayland-test", dir.path().c_str()));
    EXPECT_TRUE(waylandDisplayAnswers(socket, nullptr)) << "an absolute path needs no runtime dir";
    EXPECT_FALSE(waylandDisplayAnswers("wayland-test", nullptr));
    ::close(server);
    EXPECT_FALSE(waylandDisplayAnswers("wayland-test", dir.path().c_str())) << "a stale socket";
}

TEST_F(DisplayCheck, ChoiceTakesTheDesktopOnlyWhenADisplayAnswers) {
    SilentXDisplay silent(dir.path());
    const std::string dead = silent.name();
    const std::string runtime = dir.path();
    const int wayland = listenAt(runtime + "/wayland-live");
    const struct {
        const char* what;
        DisplayEnvironment environment;
        FrontEndKind kind;
        std::string reason;
    } cases[] = {
        {"nothing named", {}, FrontEndKind::Console, ""},
        {"silent X", {dead.c_str()}, FrontEndKind::Console, "display " + dead + " does not answer"},
        {"a Qt platform named", {dead.c_str(), nullptr, "offscreen"}, FrontEndKind::Desktop, ""},
        {"Wayland answers",
         {dead.c_str(), "wayland-live", nullptr, runtime.c_str()},
         FrontEndKind::Desktop,
         ""},
        {"neither answers",
         {dead.c_str(), "wayland-gone", nullptr, runtime.c_str()},
         FrontEndKind::Console,
         "display " + dead + " and Wayland display wayland-gone do not answer"},
    };
    for (const auto& c : cases) {
        const FrontEndChoice choice = chooseFrontEnd(c.environment, dir.path());
        EXPECT_EQ(choice.kind, c.kind) << c.what;
        EXPECT_EQ(choice.reason, c.reason) << c.what;
    }
    ::close(wayland);
}

}  // namespace
}  // namespace velgor::test
