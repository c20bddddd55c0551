#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "program/program_runner.h"

namespace velgor::test {

// A virtual X display (Xvfb) with a notification area (trayer), for driving the
// desktop program from outside as a person would, with xdotool.
class XSession {
  public:
    // Empty when Xvfb, trayer, xdotool or xwininfo is missing; `why` says which.
    static std::unique_ptr<XSession> start(std::string& why);
    ~XSession();

    const std::string& display() const { return display_; }
    // A command's standard output, run with this display.
    std::string run(const std::string& command) const;
    // Visible windows whose WM_CLASS instance is `instance`, as decimal ids.
    std::vector<std::string> windowsOfClass(const std::string& instance) const;
    // Children of the notification area's panel: the embedded icons.
    int trayIconCount() const;

  private:
    XSession() = default;

    std::string display_;
    std::unique_ptr<RunningProgram> server_;
    std::unique_ptr<RunningProgram> tray_;
};

}  // namespace velgor::test
