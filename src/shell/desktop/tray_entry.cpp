#include "shell/desktop/tray_entry.h"

#include "shell/controls/menu_table.h"
#include "shell/desktop/menu_builder.h"

namespace velgor {

TrayEntry::TrayEntry(const QIcon& icon, const QString& tip,
                     const std::function<void(int)>& onCommand)
    : menu_(std::make_unique<QMenu>()), icon_(std::make_unique<QSystemTrayIcon>(icon)) {
    // Only the items of the first pop-up are shown, not its title.
    addMenuItems(*menu_, trayMenu().front(), onCommand, actions_);
    icon_->setToolTip(tip);
    // The right button opens this menu at the cursor; no other click is handled.
    icon_->setContextMenu(menu_.get());
}

TrayEntry::~TrayEntry() {
    remove();
}

void TrayEntry::add() {
    icon_->show();
}

void TrayEntry::remove() {
    icon_->hide();
}

QAction* TrayEntry::menuAction(int id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

}  // namespace velgor
