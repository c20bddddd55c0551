#include "desktop/x_session.h"

#include <csignal>
#include <cstdio>
#include <sstream>
#include <thread>

namespace velgor::test {
namespace {

using namespace std::chrono_literals;

bool onPath(const char* tool) {
    const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

std::unique_ptr<XSession> XSession::start(std::string& why) {
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo", "xprop"}) {
        if (!onPath(tool)) {
            why = std::string(tool) + " is not installed";
            return nullptr;
        }
    }
    std::unique_ptr<XSession> session(new XSession);
    // Xvfb picks a free display number and writes it to the given descriptor.
    session->server_ = std::make_unique<RunningProgram>(
        "Xvfb",
        std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                 "tcp"},
        RunningProgram::Options{});
    if (!session->server_->waitForOutput("\n", 10s)) {
        why = "Xvfb did not start: " + session->server_->err();
        return nullptr;
    }
    std::string number = session->server_->out();
    number.erase(number.find('\n'));
    session->display_ = ":" + number;

    RunningProgram::Options options;
    options.setEnv = {{"DISPLAY", session->display_}};
    session->tray_ = std::make_unique<RunningProgram>(
        "trayer",
        std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype", "request",
                                 "--height", "24"},
        options);
    for (int i = 0; i < 100 && session->run("xdotool search --class trayer").empty(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    if (session->run("xdotool search --class trayer").empty()) {
        why = "trayer did not start: " + session->tray_->err();
        return nullptr;
    }
    return session;
}

XSession::~XSession() {
    for (auto* program : {tray_.get(), server_.get()}) {
        if (program == nullptr) continue;
        program->signal(SIGTERM);
        program->wait(5s);
    }
}

std::string XSession::run(const std::string& command) const {
    const std::string line = "DISPLAY=" + display_ + " " + command + " 2>/dev/null";
    std::string output;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

std::vector<std::string> XSession::windowsOfClass(const std::string& instance) const {
    std::vector<std::string> windows;
    std::istringstream lines(run("xdotool search --onlyvisible --classname " + instance));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) windows.push_back(line);
    }
    return windows;
}

int XSession::trayIconCount() const {
    // trayer's panel (WM_CLASS "panel", "trayer") holds a 1 x 1 helper and one child
    // per icon.
    const std::string panel = run("xdotool search --classname panel");
    const std::string tree = run("xwininfo -children -id " + panel.substr(0, panel.find('\n')));
    int icons = 0;
    std::istringstream lines(tree);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("0x") != std::string::npos && line.find("1x1+") == std::string::npos &&
            line.find("):") != std::string::npos) {
            ++icons;
        }
    }
    return icons;
}

}  // namespace velgor::test
