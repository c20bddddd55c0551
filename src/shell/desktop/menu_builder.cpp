#include "shell/desktop/menu_builder.h"

#include "shell/desktop/qt_text.h"

namespace velgor {

void addMenuItems(QMenu& menu, const MenuPopup& popup, const std::function<void(int)>& onCommand,
                  std::map<int, QAction*>& actions) {
    for (const MenuItem& item : popup.items) {
        QAction* action = menu.addAction(fromCp1251(item.label));
        action->setData(item.id);
        action->setCheckable(item.checkMark);
        const int id = item.id;
        // The command sets the check mark itself; a mark follows its flag only.
        QObject::connect(action, &QAction::triggered, &menu, [action, onCommand, id] {
            if (action->isCheckable()) action->setChecked(!action->isChecked());
            onCommand(id);
        });
        actions[item.id] = action;
    }
}

}  // namespace velgor
