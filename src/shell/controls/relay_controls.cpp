#include "shell/controls/relay_controls.h"

#include "config/settings_writers.h"
#include "links/relay.h"
#include "shell/controls/menu_ids.h"
#include "shell/controls/settings_dialogs.h"
#include "shell/controls/window_texts.h"

namespace velgor {
namespace {

// A flag turns 0 into 1 and any other value into 0.
std::int32_t flipped(std::int32_t flag) {
    return flag != 0 ? 0 : 1;
}

}  // namespace

RelayControls::RelayControls(Relay& relay, std::string settingsDir, ControlsView& view)
    : relay_(relay), settingsDir_(std::move(settingsDir)), view_(view) {}

void RelayControls::applyStartupChecks() {
    const RelaySettings& settings = relay_.settings();
    // Items whose flag is 0 keep the unchecked state they start with.
    if (settings.binaryMode != 0) view_.setMenuCheck(IDM_BINARY_MODE, true);
    if (settings.compressEnabled != 0) view_.setMenuCheck(IDM_COMPRESS, true);
    if (settings.watchdogEnabled != 0) view_.setMenuCheck(IDM_NO_DATA_WATCHDOG, true);
}

void RelayControls::command(int id) {
    switch (id) {
        case IDM_EXIT:
            view_.closeMainWindow();
            return;
        case IDM_SOURCE_SETTINGS:
            openDialog(DialogKind::SourceLink);
            return;
        case IDM_CONSUMER_SETTINGS:
            openDialog(DialogKind::ConsumerLink);
            return;
        case IDM_COORDINATES:
            openDialog(DialogKind::Coordinates);
            return;
        case IDM_STATION_NAME:
            openDialog(DialogKind::StationName);
            return;
        case IDM_BINARY_MODE:
            toggleBinaryMode();
            return;
        case IDM_COMPRESS:
            toggleCompression();
            return;
        case IDM_COMPRESS_TICKS:
            openDialog(DialogKind::CompressStep);
            return;
        case IDM_THRESHOLD:
            openDialog(DialogKind::Threshold);
            return;
        case IDM_TIMER_FREQUENCY:
            openDialog(DialogKind::TimerFrequency);
            return;
        case IDM_RELATIVE_TIME:
            toggleRelativeTime();
            return;
        case IDM_NO_DATA_WATCHDOG:
            toggleWatchdog();
            return;
        case IDM_HELP:
            view_.showInfoBox(helpBoxCaption(), helpBoxText());
            return;
        case IDM_AUTHOR:
            view_.showInfoBox(authorBoxCaption(), authorBoxText());
            return;
        default:
            return;
    }
}

void RelayControls::character(int code) {
    if (code == '4') {
        relay_.display().toggleDisplayEnabled();
    } else if (code == '5') {
        relay_.display().toggleRelativeTimeMode();
    }
}

void RelayControls::saveModes() {
    // A toggle takes effect whether or not its file could be written; the failure
    // is not reported.
    (void)saveModeFile(settingsDir_, relay_.settings());
}

void RelayControls::toggleBinaryMode() {
    relay_.editSettings([](RelaySettings& s) { s.binaryMode = flipped(s.binaryMode); });
    view_.setMenuCheck(IDM_BINARY_MODE, relay_.settings().binaryMode != 0);
    saveModes();
    restartConsumerLink();
}

void RelayControls::toggleCompression() {
    relay_.editSettings([](RelaySettings& s) { s.compressEnabled = flipped(s.compressEnabled); });
    view_.setMenuCheck(IDM_COMPRESS, relay_.settings().compressEnabled != 0);
    saveModes();
    restartConsumerLink();
}

void RelayControls::restartConsumerLink() {
    if (relay_.links().isUp(LINK_CONSUMER)) relay_.dropLink(LINK_CONSUMER);
}

void RelayControls::toggleWatchdog() {
    if (relay_.settings().watchdogEnabled != 0) {
        relay_.editSettings([](RelaySettings& s) { s.watchdogEnabled = 0; });
        view_.setMenuCheck(IDM_NO_DATA_WATCHDOG, false);
    } else {
        relay_.editSettings([](RelaySettings& s) { s.watchdogEnabled = 1; });
        view_.setMenuCheck(IDM_NO_DATA_WATCHDOG, true);
        // Modeless: the toggle goes on at once.
        openDialog(DialogKind::NoDataLimit);
    }
    saveModes();
}

void RelayControls::toggleRelativeTime() {
    ReceiveTimeDisplay& display = relay_.display();
    if (display.relativeTimeMode() != 0) {
        display.setRelativeTimeMode(0);
        view_.setMenuCheck(IDM_RELATIVE_TIME, false);
    } else {
        // Switching on clears the reference: the next timestamped line sets it.
        display.setRelativeTimeMode(1);
        view_.setMenuCheck(IDM_RELATIVE_TIME, true);
    }
}

TabCycle* RelayControls::tabCycleOf(DialogKind kind) {
    if (kind == DialogKind::Coordinates) return &coordinatesTab_;
    if (kind == DialogKind::SourceLink) return &sourceLinkTab_;
    return nullptr;
}

DialogInstanceId RelayControls::openDialog(DialogKind kind) {
    const DialogFields fields = fillDialogOnOpening(kind, relay_, settingsDir_);
    const DialogInstanceId instance = view_.showDialog(dialogTemplate(kind), fields);
    if (instance == 0) return 0;
    if (TabCycle* cycle = tabCycleOf(kind)) {
        cycle->opened(instance);
        view_.focusDialogControl(instance, DIALOG_FIELD_1);
    }
    return instance;
}

void RelayControls::acceptDialog(DialogKind kind, const DialogFields& fields) {
    applyDialogOk(kind, fields, relay_, settingsDir_);
    if (TabCycle* cycle = tabCycleOf(kind)) cycle->closed();
}

void RelayControls::cancelDialog(DialogKind kind) {
    if (TabCycle* cycle = tabCycleOf(kind)) cycle->closed();
}

bool RelayControls::offerTab() {
    bool taken = false;
    // Both cycles always run, the coordinates dialog's first.
    for (TabCycle* cycle : {&coordinatesTab_, &sourceLinkTab_}) {
        if (const auto move = cycle->takeTab()) {
            view_.focusDialogControl(move->instance, move->controlId);
            taken = true;
        }
    }
    return taken;
}

}  // namespace velgor
