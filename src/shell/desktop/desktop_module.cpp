// The desktop front end: the relay's main window, menus, dialogs and tray entry
// on Qt Widgets, in the start-up and shutdown order of the relay.
#include <QApplication>

#include "shell/desktop/desktop_front_end.h"
#include "shell/platform/qt_relay_host.h"
#include "shell/platform/quit_on_signals.h"
#include "shell/platform/service_notifier.h"
#include "shell/startup/front_end_entry.h"
#include "shell/startup/relay_program.h"
#include "shell/startup/service_status.h"

namespace {

// The show state the desktop asks for: Qt takes its own window options from the
// arguments; "-iconic", the X toolkit's way to start a window minimized, is
// taken here. Every other argument is ignored.
velgor::ShowState requestedShowState(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("-iconic")) ? velgor::ShowState::Minimized
                                                         : velgor::ShowState::Normal;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int velgorRunFrontEnd(
    const velgor::FrontEndArgs* args) {
    using namespace velgor;
    int argc = args->argc;
    QApplication app(argc, args->argv);
    // The program ends when the main window is closed, never because some
    // other window (a box, a dialog) was the last one.
    QApplication::setQuitOnLastWindowClosed(false);
    QtRelayHost host;
    RelayProgram program(host, args->compress);  // settings probed and loaded
    // A desktop session's service manager (systemd --user) may supervise it too.
    ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    ServiceStatus service(program.relay().links(), notifier);

    int code = 0;
    {
        DesktopFrontEnd desktop(program.relay(), program.settingsDir());
        desktop.showMainWindow(requestedShowState(QApplication::arguments()));
        host.attach(program.relay());  // the 100 ms tick
        host.addTickDuty([&service] { service.tick(); });
        desktop.addTrayIcon();
        program.startLinks();  // send lock, reconnect thread
        desktop.applyStartupChecks();
        // A session ending (SIGTERM) or Ctrl-C ends the program as Exit does.
        QuitOnSignals quitOnSignals;
        service.started();

        code = QApplication::exec();

        service.stopping();
        host.beginShutdown();
        program.shutdown();
        desktop.removeTrayIcon();
    }
    return code;
}
