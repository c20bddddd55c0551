#include "shell/startup/relay_program.h"

#include "config/settings_loader.h"
#include "config/settings_probe.h"

namespace velgor {

RelayProgram::RelayProgram(RelayHost& host, CompressFn compress, std::string settingsDir)
    : settingsDir_(std::move(settingsDir)),
      relay_(std::make_unique<Relay>(host, compress, consumerLock_)) {
    probeSettingsDir(settingsDir_);
    relay_->loadSettingsFrom(settingsDir_);
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
    relay_->editSettings([](RelaySettings& settings) { releaseSettings(settings); });
}

}  // namespace velgor
