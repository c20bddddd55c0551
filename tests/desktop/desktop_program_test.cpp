// The program as an operator runs it on a desktop: the real `velgor` with its
// desktop module, closed the ways a person closes it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <thread>

#include "desktop/x_session.h"
#include "program/loopback.h"
#include "program/program_runner.h"

namespace velgor::test {
namespace {

using namespace std::chrono_literals;

// A temporary working directory whose consumer endpoint is a listener of the
// test's, and whose source endpoint is another listener that stays silent.
struct Workplace {
    Workplace() {
        dir.write("initmkp1.ini", std::to_string(source.port()) + "\n127.0.0.1\n");
        dir.write("initmkp2.ini", std::to_string(consumer.port()) + "\n127.0.0.1\n");
    }
    // Waits for the relay's consumer handshake: proof that it runs.
    bool handshakeArrives() {
        const int fd = consumer.accept(10s);
        if (fd < 0) return false;
        std::string received;
        const bool complete = readUntil(fd, "#TEXT\r\n", received, 10s);
        ::close(fd);
        return complete;
    }

    TempDir dir;
    LoopbackListener source;
    LoopbackListener consumer;
};

RunningProgram::Options desktopOptions(const Workplace& place, const std::string& display) {
    RunningProgram::Options options;
    options.workingDirectory = place.dir.path();
    if (display.empty()) {
        options.setEnv = {{"QT_QPA_PLATFORM", "offscreen"}};
        options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    } else {
        options.setEnv = {{"DISPLAY", display}};
        options.unsetEnv = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
    }
    // Under the leak checker: Qt's D-Bus library keeps a buffer to the end.
    options.setEnv["LSAN_OPTIONS"] = "suppressions=" LSAN_SUPPRESSIONS;
    return options;
}

TEST(DesktopProgram, OffscreenRunsTheDesktopModuleAndEndsWithZeroOnTerminate) {
    Workplace place;
    RunningProgram program(VELGOR_PROGRAM, {}, desktopOptions(place, ""));
    ASSERT_TRUE(place.handshakeArrives()) << program.err();
    EXPECT_EQ(program.err().find("no desktop front end"), std::string::npos) << program.err();
    EXPECT_EQ(program.err().find("console"), std::string::npos) << program.err();
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(10s), 0) << program.err();
}

class DesktopOnX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        session = XSession::start(why);
        if (!session) GTEST_SKIP() << why;
        program = std::make_unique<RunningProgram>(VELGOR_PROGRAM, arguments(),
                                                   desktopOptions(place, session->display()));
        ASSERT_TRUE(place.handshakeArrives()) << program->err();
        for (int i = 0; i < 100 && (mainWindow().empty() || session->trayIconCount() == 0); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_FALSE(mainWindow().empty()) << program->err();
    }
    void TearDown() override {
        program.reset();
        session.reset();
    }
    virtual std::vector<std::string> arguments() const { return {}; }
    std::string mainWindow() const {
        const auto windows = session->windowsOfClass("tarnwick");
        return windows.empty() ? std::string() : windows.front();
    }

    Workplace place;
    std::unique_ptr<XSession> session;
    std::unique_ptr<RunningProgram> program;
};

TEST_F(DesktopOnX11, MainWindowHasItsClassTitleAndOuterSize) {
    const std::string hints = session->run("xprop -id " + mainWindow() + " WM_HINTS");
    EXPECT_EQ(hints.find("Iconic"), std::string::npos) << hints;
    const std::string window = mainWindow();
    EXPECT_EQ(session->run("xprop -id " + window + " WM_CLASS"),
              "WM_CLASS(STRING) = \"tarnwick\", \"tarnwick\"\n");
    EXPECT_EQ(session->run("xdotool getwindowname " + window), "Связывающая программа (Velgor)\n");
    const std::string geometry = session->run("xwininfo -id " + window);
    // No window manager runs here: the outer size is the window's own.
    EXPECT_NE(geometry.find("Width: 585\n"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("Height: 372\n"), std::string::npos) << geometry;
    EXPECT_EQ(session->trayIconCount(), 1);
}

TEST_F(DesktopOnX11, ClosingFromTheTitleBarEndsWithZeroAndRemovesTheTrayIcon) {
    ASSERT_EQ(session->trayIconCount(), 1);
    const std::string command = std::string(X_CLOSE_WINDOW) + " " + mainWindow();
    ASSERT_EQ(std::system(("DISPLAY=" + session->display() + " " + command).c_str()), 0);
    EXPECT_EQ(program->wait(10s), 0) << program->err();
    EXPECT_EQ(session->trayIconCount(), 0);
}

TEST_F(DesktopOnX11, TrayRightButtonOpensOneItemMenuWhoseExitEndsWithZero) {
    ASSERT_EQ(session->trayIconCount(), 1);
    const auto icons = session->windowsOfClass("velgor");
    ASSERT_EQ(icons.size(), 1u);  // the icon itself; no menu yet
    // Left clicks and a double click do nothing.
    session->run("xdotool mousemove --window " + icons[0] + " 11 11 click 1 click --repeat 2 1");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(session->windowsOfClass("velgor").size(), 1u);
    EXPECT_FALSE(program->wait(0ms).has_value());

    session->run("xdotool mousemove --window " + icons[0] + " 11 11 click 3");
    std::string menu;
    for (int i = 0; i < 100 && menu.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        for (const std::string& window : session->windowsOfClass("velgor")) {
            if (window != icons[0]) menu = window;
        }
    }
    ASSERT_FALSE(menu.empty()) << "no menu opened";
    // One item: the menu is one item high.
    const std::string geometry = session->run("xwininfo -id " + menu);
    std::istringstream lines(geometry);
    int height = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Height:") != std::string::npos)
            height = std::stoi(line.substr(line.find(':') + 1));
    }
    EXPECT_GT(height, 10);
    EXPECT_LT(height, 40);

    session->run("xdotool mousemove --window " + menu + " 20 " + std::to_string(height / 2) +
                 " click 1");
    EXPECT_EQ(program->wait(10s), 0) << program->err();
    EXPECT_EQ(session->trayIconCount(), 0);
}

// Started as the X toolkit asks for a minimized window.
class DesktopOnX11Iconic : public DesktopOnX11 {
  protected:
    std::vector<std::string> arguments() const override { return {"-iconic"}; }
};

TEST_F(DesktopOnX11Iconic, StartsMinimizedWithTheTrayIconAddedAllTheSame) {
    const std::string hints = session->run("xprop -id " + mainWindow() + " WM_HINTS");
    EXPECT_NE(hints.find("Initial state is Iconic State."), std::string::npos) << hints;
    EXPECT_EQ(session->trayIconCount(), 1);
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(10s), 0) << program->err();
}

}  // namespace
}  // namespace velgor::test
