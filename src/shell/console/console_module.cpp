// The console front end: the relay on Qt's core event loop, without windows. The
// status pane goes to stdout; SIGINT and SIGTERM end the program as Exit does.
// Under systemd the service manager is told when the relay is ready, how its
// links are doing, and that its main loop is alive.
#include <QCoreApplication>
#include <cstdio>

#include "links/relay.h"
#include "shell/console/console_output.h"
#include "shell/platform/qt_relay_host.h"
#include "shell/platform/quit_on_signals.h"
#include "shell/platform/service_notifier.h"
#include "shell/startup/front_end_entry.h"
#include "shell/startup/relay_program.h"
#include "shell/startup/service_status.h"

extern "C" __attribute__((visibility("default"))) int velgorRunFrontEnd(
    const velgor::FrontEndArgs* args) {
    using namespace velgor;
    int argc = args->argc;
    QCoreApplication app(argc, args->argv);
    QtRelayHost host;
    RelayProgram program(host, args->compress);
    Relay& relay = program.relay();

    ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    if (!notifier.problem().empty()) {
        std::fprintf(stderr, "velgor: %s; the service manager is not told\n",
                     notifier.problem().c_str());
    }
    ServiceStatus service(relay.links(), notifier);

    ConsoleOutput output(relay.messageLog(), stdout);
    relay.messageLog().setObserver(&output);
    // Why a link went down, for whoever reads the log afterwards.
    relay.setDropListener([](int link, const LinkDrop& why) {
        std::fprintf(stderr, "velgor: %s link dropped: %s\n",
                     link == LINK_SOURCE ? "source" : "consumer", describeDrop(why).c_str());
    });
    host.attach(relay);
    host.addTickDuty([&service] { service.tick(); });
    QuitOnSignals quitOnSignals;
    program.startLinks();
    service.started();
    std::fprintf(stderr, "velgor: relay running (console); Ctrl-C ends it\n");

    const int code = QCoreApplication::exec();

    service.stopping();
    host.beginShutdown();
    program.shutdown();
    relay.messageLog().setObserver(nullptr);
    return code;
}
