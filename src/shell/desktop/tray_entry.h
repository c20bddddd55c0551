#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>
#include <map>
#include <memory>

namespace velgor {

// The relay's entry in the notification area: icon ICON_1, the window title as
// its tip, and a right button that opens MENU_TRAY's one item, "&Exit". Left
// clicks and double clicks do nothing.
class TrayEntry {
  public:
    TrayEntry(const QIcon& icon, const QString& tip, const std::function<void(int)>& onCommand);
    ~TrayEntry();

    void add();
    void remove();

    QSystemTrayIcon& icon() { return *icon_; }
    QMenu& menu() { return *menu_; }
    QAction* menuAction(int id) const;

  private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::map<int, QAction*> actions_;
};

}  // namespace velgor
