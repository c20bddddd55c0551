#include "shell/desktop/tab_key_filter.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>

namespace velgor {

TabKeyFilter::TabKeyFilter(std::function<bool()> offerTab) : offerTab_(std::move(offerTab)) {}

bool TabKeyFilter::isTabCharacter(const QKeyEvent& event) {
    // Shift+Tab types the same character; Ctrl and Alt combinations type none.
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
    return event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab;
}

bool TabKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!isTabCharacter(*key)) return false;
    const QWidget* window = static_cast<QWidget*>(watched)->window();
    if (qobject_cast<const QMenu*>(window) != nullptr ||
        qobject_cast<const QMessageBox*>(window) != nullptr) {
        return false;
    }
    if (!offerTab_()) return false;
    // Taken: the key is finished here and goes to no widget or parent.
    key->accept();
    return true;
}

}  // namespace velgor
