#pragma once

#include <map>
#include <memory>
#include <string>

#include "config/temp_settings_dir.h"
#include "shell/desktop/desktop_front_end.h"
#include "shell/platform/qt_relay_host.h"
#include "shell/startup/relay_program.h"

namespace velgor::test {

// The desktop front end over a relay whose settings come from a fresh
// directory, on the test's QApplication. Nothing connects unless asked.
class DesktopRig {
  public:
    using Files = std::map<std::string, std::string>;

    // files: settings files (name, bytes) written before the settings load.
    explicit DesktopRig(const Files& files = {});
    ~DesktopRig();
    DesktopRig(const DesktopRig&) = delete;
    DesktopRig& operator=(const DesktopRig&) = delete;

    // The tick and the reconnect thread, as the program starts them.
    void startRelay();

    Relay& relay() { return program_->relay(); }
    DesktopFrontEnd& desktop() { return *desktop_; }
    MainWindow& window() { return desktop_->window(); }
    // The most recently opened settings dialog that is still open, or null.
    SettingsDialogWidget* newestDialog() const;
    // Runs a menu item of the main window as a click on it would.
    void choose(int id);

    TempSettingsDir files;

  private:
    QtRelayHost host_;
    std::unique_ptr<RelayProgram> program_;
    std::unique_ptr<DesktopFrontEnd> desktop_;
    bool started_ = false;
};

// Everything a socket has waiting, appended without blocking; false once the
// peer has closed it.
bool readWaiting(int fd, std::string& into);

}  // namespace velgor::test
