#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/temp_settings_dir.h"
#include "links/relay.h"
#include "links/relay_host.h"
#include "shell/controls/controls_view.h"
#include "shell/controls/relay_controls.h"
#include "sys/consumer_lock.h"
#include "sys/unique_fd.h"

namespace velgor::test {

// Records what the controls ask of the user interface.
class RecordingView : public ControlsView {
  public:
    struct ShownDialog {
        DialogKind kind;
        DialogFields fields;
        DialogInstanceId instance;
    };

    void setMenuCheck(int itemId, bool checked) override { checks[itemId] = checked; }
    DialogInstanceId showDialog(const DialogTemplate& dialog, const DialogFields& fields) override;
    void focusDialogControl(DialogInstanceId instance, int controlId) override {
        focusMoves.emplace_back(instance, controlId);
    }
    void showInfoBox(std::string_view caption, std::string_view text) override {
        infoBoxes.emplace_back(caption, text);
    }
    void closeMainWindow() override { ++mainWindowCloses; }

    // The check mark of an item: nothing when it was never set.
    std::optional<bool> check(int id) const;
    const ShownDialog& lastDialog() const { return dialogs.back(); }

    std::map<int, bool> checks;
    std::vector<ShownDialog> dialogs;
    std::vector<std::pair<DialogInstanceId, int>> focusMoves;
    std::vector<std::pair<std::string, std::string>> infoBoxes;
    int mainWindowCloses = 0;

  private:
    DialogInstanceId lastInstance_ = 0;
};

// A main thread that is the test's own thread: tasks run at once.
class InlineHost : public RelayHost {
  public:
    bool runOnMainThread(const std::function<void()>& task) override {
        task();
        return true;
    }
    bool watchSocket(int, int) override { return true; }
    void unwatchSocket(int link, int) override { ++unwatched[link]; }
    void watchForRoom(int, int, bool) override {}
    void holdReading(int, int, bool) override {}
    std::map<int, int> unwatched;
};

// A relay with its controls over a fresh settings directory. Settings files
// are written by the test before it asks for the relay.
class ControlsRig {
  public:
    ControlsRig();
    ~ControlsRig();

    // The relay and its controls, created on first use.
    Relay& relay();
    RelayControls& controls();
    const RelaySettings& settings() { return relay().settings(); }

    // Puts a connected socket pair in a link slot and marks it LINK_UP; returns
    // the far end, which reads end of file once the relay drops the link.
    int bringUp(int link);
    // Whether the far end of a link has seen the connection closed.
    static bool peerClosed(int farEnd);

    // The controls show through `other` instead of `view` (a real user
    // interface); call before the first controls().
    void showThrough(ControlsView& other) { shownThrough_ = &other; }

    // Makes every settings file write fail from now on (the directory goes
    // away; mode bits would not stop a root user).
    void makeSettingsUnwritable();

    TempSettingsDir files;
    TempSettingsDir lockDir;
    RecordingView view;
    InlineHost host;

  private:
    std::string settingsDir_;
    ControlsView* shownThrough_ = nullptr;
    std::unique_ptr<ConsumerLock> lock_;
    std::unique_ptr<Relay> relay_;
    std::unique_ptr<RelayControls> controls_;
    std::vector<UniqueFd> farEnds_;
};

}  // namespace velgor::test
