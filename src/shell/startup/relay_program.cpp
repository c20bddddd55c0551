#include "shell/startup/relay_program.h"

#include "config/settings_loader.h"
#include "config/settings_probe.h"

namespace velgor {

RelayProgram::RelayProgram(RelayHost& host, CompressFn compress, std::string settingsDir)
    : settingsDir_(std::move(settingsDir)),
      relay_(std::make_unique<Relay>(host, compress, consumerLock_)) {
    probeSettingsDir(settingsDir_);
    LinkTable& links = relay_->links();
    // No other thread runs yet: the endpoints are filled in place.
    loadSettings(settingsDir_, relay_->settings(), links.slot(LINK_LOCAL), links.slot(LINK_SOURCE),
                 links.slot(LINK_CONSUMER));
}

RelayProgram::~RelayProgram() {
    shutdown();
}

void RelayProgram::startLinks() {
    reconnect_ = std::make_unique<ReconnectThread>(*relay_);
    reconnect_->start();
}

void RelayProgram::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (reconnect_) reconnect_->stop();
    // The reconnect thread has ended: the main thread closes the live links.
    for (int link : {LINK_SOURCE, LINK_CONSUMER}) relay_->links().slot(link).socket.reset();
    releaseSettings(relay_->settings());
}

}  // namespace velgor
