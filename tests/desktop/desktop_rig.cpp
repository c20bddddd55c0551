#include "desktop/desktop_rig.h"

#include <sys/socket.h>
#include <zlib.h>

#include <QAction>
#include <QCoreApplication>

namespace velgor::test {

DesktopRig::DesktopRig(const Files& settingsFiles) {
    for (const auto& [name, bytes] : settingsFiles) files.write(name, bytes);
    program_ = std::make_unique<RelayProgram>(host_, &::compress, files.dir());
    desktop_ = std::make_unique<DesktopFrontEnd>(program_->relay(), files.dir());
    desktop_->showMainWindow(ShowState::Normal);
    desktop_->applyStartupChecks();
}

DesktopRig::~DesktopRig() {
    host_.beginShutdown();
    program_->shutdown();
    desktop_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void DesktopRig::startRelay() {
    if (started_) return;
    started_ = true;
    host_.attach(program_->relay());
    desktop_->addTrayIcon();
    program_->startLinks();
}

SettingsDialogWidget* DesktopRig::newestDialog() const {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto open = desktop_->view().openDialogs();
    return open.empty() ? nullptr : open.back();
}

void DesktopRig::choose(int id) {
    QAction* action = window().menuAction(id);
    if (action != nullptr) action->trigger();
}

bool readWaiting(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) return false;
        if (n < 0) return true;
        into.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace velgor::test
