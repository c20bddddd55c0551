#include "shell/desktop/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>

#include "shell/controls/menu_table.h"
#include "shell/controls/window_texts.h"
#include "shell/desktop/menu_builder.h"
#include "shell/desktop/qt_text.h"

namespace velgor {

MainWindow::MainWindow(const MessageLog& log, Handlers handlers)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      handlers_(std::move(handlers)) {
    setWindowTitle(fromCp1251(mainWindowTitle()));
    for (const MenuPopup& popup : mainMenu()) {
        QMenu* menu = menuBar()->addMenu(fromCp1251(popup.title));
        addMenuItems(*menu, popup, handlers_.command, actions_);
    }
    pane_ = new StatusPane(log, this);
    setCentralWidget(pane_);
    // Until the frame is known the whole outer size is the client area.
    setFixedSize(OUTER_WIDTH, OUTER_HEIGHT);
}

QAction* MainWindow::menuAction(int id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::setMenuCheck(int id, bool checked) {
    if (QAction* action = menuAction(id)) action->setChecked(checked);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // The window takes characters only; keys themselves do nothing.
    for (const char byte : toCp1251(event->text())) {
        handlers_.character(static_cast<unsigned char>(byte));
    }
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    handlers_.closed();
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    // A window manager's frame shows up after the window is shown; the outer
    // size stays 585 x 372 by shrinking the client area by the frame.
    if (event->type() == QEvent::Show || event->type() == QEvent::Move ||
        event->type() == QEvent::WindowStateChange) {
        fitOuterSize();
    }
    return handled;
}

void MainWindow::fitOuterSize() {
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const int frameWidth = frame.width() - client.width();
    const int frameHeight = frame.height() - client.height();
    const QSize wanted(OUTER_WIDTH - frameWidth, OUTER_HEIGHT - frameHeight);
    if (size() != wanted && wanted.isValid()) setFixedSize(wanted);
}

}  // namespace velgor
