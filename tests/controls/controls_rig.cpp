#include "controls/controls_rig.h"

#include <filesystem>

#include "config/settings_loader.h"
#include "sys/socket_calls.h"

namespace velgor::test {

DialogInstanceId RecordingView::showDialog(const DialogTemplate& dialog,
                                           const DialogFields& fields) {
    dialogs.push_back({dialog.kind, fields, ++lastInstance_});
    return lastInstance_;
}

std::optional<bool> RecordingView::check(int id) const {
    const auto found = checks.find(id);
    if (found == checks.end()) return std::nullopt;
    return found->second;
}

ControlsRig::ControlsRig() : settingsDir_(files.dir()) {}

ControlsRig::~ControlsRig() {
    controls_.reset();
    relay_.reset();
    farEnds_.clear();
}

Relay& ControlsRig::relay() {
    if (!relay_) {
        lock_ = std::make_unique<ConsumerLock>(lockDir.dir());
        relay_ = std::make_unique<Relay>(host, nullptr, *lock_);
        relay_->loadSettingsFrom(settingsDir_);
    }
    return *relay_;
}

RelayControls& ControlsRig::controls() {
    if (!controls_) {
        ControlsView& shown = shownThrough_ != nullptr ? *shownThrough_ : view;
        controls_ = std::make_unique<RelayControls>(relay(), settingsDir_, shown);
    }
    return *controls_;
}

int ControlsRig::bringUp(int link) {
    UniqueFd relayEnd;
    UniqueFd farEnd;
    if (!makeSocketPair(relayEnd, farEnd)) return -1;
    LinkSlot& slot = relay().links().slot(link);
    slot.socket = std::move(relayEnd);
    slot.state.store(LINK_UP);
    farEnds_.push_back(std::move(farEnd));
    return farEnds_.back().get();
}

bool ControlsRig::peerClosed(int farEnd) {
    return peekSocket(farEnd) == 0;
}

void ControlsRig::makeSettingsUnwritable() {
    relay();  // the settings are loaded first
    std::filesystem::remove_all(settingsDir_);
}

}  // namespace velgor::test
