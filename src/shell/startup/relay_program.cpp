#include "shell/startup/relay_program.h"

#include "config/settings_loader.h"
#include "config/settings_probe.h"
#include "config/watch_settings.h"

namespace velgor {

RelayProgram::RelayProgram(RelayHost& host, CompressFn compress, std::string settingsDir)
    : settingsDir_(std::move(settingsDir)),
      relay_(std::make_unique<Relay>(host, compress, consumerLock_)) {
    probeSettingsDir(settingsDir_);
    relay_->loadSettingsFrom(settingsDir_);
    const WatchSettings watch = loadWatchSettings(settingsDir_);
    if (watch.intervalSeconds > 0) {
        report_ = std::make_unique<StationReport>(*relay_, settingsDir_, watch);
        relay_->setTickListener([this] { report_->tick(); });
    }
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
    relay_->setTickListener({});  // nothing is written after the links are gone
    if (reconnect_) reconnect_->stop();
    // The reconnect thread has ended: the main thread closes the live links.
    for (int link : {LINK_SOURCE, LINK_CONSUMER}) relay_->links().slot(link).socket.reset();
    relay_->editSettings([](RelaySettings& settings) { releaseSettings(settings); });
}

}  // namespace velgor
