#pragma once

#include <QMainWindow>
#include <functional>
#include <map>

#include "shell/desktop/status_pane.h"

namespace velgor {

// The relay's main window: fixed outer size 585 x 372, minimize and close
// only, the menu bar MENU_1 and the status pane as its whole client area.
class MainWindow : public QMainWindow {
  public:
    static constexpr int OUTER_WIDTH = 585;
    static constexpr int OUTER_HEIGHT = 372;

    struct Handlers {
        std::function<void(int)> command;    // a menu item chosen
        std::function<void(int)> character;  // a character typed (Windows-1251 code)
        std::function<void()> closed;        // the window was closed
    };

    MainWindow(const MessageLog& log, Handlers handlers);

    StatusPane& pane() { return *pane_; }
    // The menu item's action, or null.
    QAction* menuAction(int id) const;
    void setMenuCheck(int id, bool checked);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void fitOuterSize();

    Handlers handlers_;
    StatusPane* pane_ = nullptr;
    std::map<int, QAction*> actions_;
};

}  // namespace velgor
