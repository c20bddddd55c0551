#pragma once

#include <string>

#include "shell/controls/controls_view.h"
#include "shell/controls/dialog_templates.h"
#include "shell/controls/tab_cycle.h"

namespace velgor {

class Relay;

// What the operator's menu commands, keys and dialogs do to the running relay.
// The user interface calls these and shows what they ask for through its
// ControlsView. Main thread only.
class RelayControls {
  public:
    RelayControls(Relay& relay, std::string settingsDir, ControlsView& view);

    // Check marks of items 113, 114 and 119 for the flags loaded at start-up.
    void applyStartupChecks();

    // A menu command by its identifier; identifiers of no command do nothing.
    void command(int id);
    // A character typed while the main window is active: '4' switches the
    // display of decoded lines, '5' the relative-time mode (without touching the
    // mark of item 118); every other character does nothing.
    void character(int code);

    // The mode toggles: flag, check mark, "BinarComOn.ini".
    // Both mode toggles also drop a consumer link that is up, whether or not the
    // mode file could be written, so that the consumer is never fed a mode its
    // handshake did not announce: the next connection's handshake carries it.
    void toggleBinaryMode();
    void toggleCompression();
    // Turning the watchdog on also opens the no-data limit dialog.
    void toggleWatchdog();
    void toggleRelativeTime();

    // Opens a further instance of a dialog, filled as it opens.
    DialogInstanceId openDialog(DialogKind kind);
    // "OK" and "Cancel" (also the caption's close box) of an open instance.
    void acceptDialog(DialogKind kind, const DialogFields& fields);
    void cancelDialog(DialogKind kind);

    // A Tab character, wherever it was typed: advances the focus cycle of the
    // coordinates dialog and then that of the source-link dialog. True when
    // either took it (the key is then swallowed).
    [[nodiscard]] bool offerTab();

    const TabCycle& coordinatesTab() const { return coordinatesTab_; }
    const TabCycle& sourceLinkTab() const { return sourceLinkTab_; }

  private:
    TabCycle* tabCycleOf(DialogKind kind);
    void saveModes();  // "BinarComOn.ini" from the current flags
    void restartConsumerLink();

    Relay& relay_;
    std::string settingsDir_;
    ControlsView& view_;
    TabCycle coordinatesTab_;
    TabCycle sourceLinkTab_;
};

}  // namespace velgor
