#include "shell/desktop/desktop_front_end.h"

#include <QApplication>
#include <QIcon>

#include "links/relay.h"
#include "shell/controls/window_texts.h"
#include "shell/desktop/qt_text.h"
#include "shell/desktop/window_class.h"

namespace velgor {

QIcon DesktopFrontEnd::programIcon() {
    return QIcon(QStringLiteral(":/velgor/icon_1.png"));
}

DesktopFrontEnd::DesktopFrontEnd(Relay& relay, std::string settingsDir) : relay_(relay) {
    MainWindow::Handlers handlers{
        [this](int id) { controls_->command(id); },
        [this](int code) { controls_->character(code); },
        [] { QCoreApplication::exit(0); },
    };
    window_ = std::make_unique<MainWindow>(relay.messageLog(), std::move(handlers));
    window_->setWindowIcon(programIcon());
    relay.messageLog().setObserver(&window_->pane());

    view_ = std::make_unique<DesktopView>(*window_);
    controls_ = std::make_unique<RelayControls>(relay, std::move(settingsDir), *view_);
    view_->setControls(controls_.get());

    tabFilter_ = std::make_unique<TabKeyFilter>([this] { return controls_->offerTab(); });
    qApp->installEventFilter(tabFilter_.get());

    tray_ = std::make_unique<TrayEntry>(programIcon(), fromCp1251(mainWindowTitle()),
                                        [this](int id) { controls_->command(id); });
}

DesktopFrontEnd::~DesktopFrontEnd() {
    qApp->removeEventFilter(tabFilter_.get());
    relay_.messageLog().setObserver(nullptr);
    tray_.reset();
    view_->setControls(nullptr);
    // The window takes its dialogs with it.
    window_.reset();
    view_.reset();
}

void DesktopFrontEnd::showMainWindow(ShowState state) {
    setWindowClass(*window_, MAIN_WINDOW_CLASS);
    if (state == ShowState::Minimized) {
        window_->showMinimized();
    } else {
        window_->show();
    }
}

}  // namespace velgor
