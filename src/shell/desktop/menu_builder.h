#pragma once

#include <QAction>
#include <QMenu>
#include <functional>
#include <map>

#include "shell/controls/menu_table.h"

namespace velgor {

// Fills a Qt menu with the items of one pop-up of a menu table, in order.
// Triggering an item calls `onCommand` with its identifier; items that carry
// check marks become checkable actions. The actions are recorded by identifier.
void addMenuItems(QMenu& menu, const MenuPopup& popup, const std::function<void(int)>& onCommand,
                  std::map<int, QAction*>& actions);

}  // namespace velgor
