#pragma once

#include <memory>
#include <string>

#include "shell/controls/relay_controls.h"
#include "shell/desktop/desktop_view.h"
#include "shell/desktop/main_window.h"
#include "shell/desktop/tab_key_filter.h"
#include "shell/desktop/tray_entry.h"

namespace velgor {

class Relay;

// How the main window is first shown.
enum class ShowState { Normal, Minimized };

// The relay's desktop: the main window with its status pane subscribed to the
// message log, the menu commands and keys routed to the relay's controls, the
// settings dialogs, the Tab rule and the tray entry. Closing the main window
// (its close box or Exit) ends the event loop with exit code 0.
class DesktopFrontEnd {
  public:
    DesktopFrontEnd(Relay& relay, std::string settingsDir);
    ~DesktopFrontEnd();
    DesktopFrontEnd(const DesktopFrontEnd&) = delete;
    DesktopFrontEnd& operator=(const DesktopFrontEnd&) = delete;

    void showMainWindow(ShowState state);
    void addTrayIcon() { tray_->add(); }
    void removeTrayIcon() { tray_->remove(); }
    void applyStartupChecks() { controls_->applyStartupChecks(); }

    MainWindow& window() { return *window_; }
    DesktopView& view() { return *view_; }
    RelayControls& controls() { return *controls_; }
    TrayEntry& tray() { return *tray_; }

    // ICON_1, the program's 32 x 32 icon.
    static QIcon programIcon();

  private:
    Relay& relay_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<DesktopView> view_;
    std::unique_ptr<RelayControls> controls_;
    std::unique_ptr<TabKeyFilter> tabFilter_;
    std::unique_ptr<TrayEntry> tray_;
};

}  // namespace velgor
